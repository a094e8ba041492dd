// What the full-screen triangle hands to the post-processing programs.
struct POST_INPUT {
    float4 pos : SV_POSITION;
    float2 uv : TEXCOORD;
};
