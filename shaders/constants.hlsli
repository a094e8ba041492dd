// The two constant buffers every raster program sees. Booleans are 4-byte
// words (non-zero = true).

cbuffer MaterialConstants : register(b0) {
    float4 baseColor;
    float3 specularColor;
    float specularStrength;
    float3 ambientColor;
    float edgeSize;
    float4 edgeColor;
    float3 emissionColor;
    float emissionStrength;
    float metallic;
    float roughness;
    float reflective;
    uint receiveShadow;
    uint sphereMode;
    uint textureBind0;
    uint textureBind1;
    uint textureBind2;
    uint textureBind3;
    uint textureBind4;
    uint textureBind5;
    uint textureBind6;
    uint textureBind7;
};

cbuffer SceneConstants : register(b1) {
    float4x4 mModel;
    float4x4 mView;
    float4x4 mProjection;
    float4x4 mMVP;
    float4 cameraPos;
    float4 lightPos;
    float4 lightDir;
    float4 lightColor;
    float4x4 lightView;
    float4x4 lightProjection;
    float elapsedTime;
    float shadowBias;
    float2 viewportSize;
};

struct VS_INPUT {
    float3 pos : POSITION;
    float3 normal : NORMAL;
    float2 uv : TEXCOORD;
    uint4 boneRef : BONEREF;
    float4 boneWeight : BONEWEIGHT;
    // From the second vertex buffer: additional UV 1 in xy, edge scale in z.
    float4 extra : EXTRA;
};

struct PS_INPUT {
    float4 pos : SV_POSITION;
    float4 normal : NORMAL;
    float2 uv : TEXCOORD;
    float4 worldPos : WORLDPOSITION;
    float4 worldNormal : WORLDNORMAL;
    float4 extra : EXTRA;  // additional UV 1 in xy, edge scale in z
};
