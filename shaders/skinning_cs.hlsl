// Skinning and vertex/UV morphing, one thread per vertex.
// Vertices, bone matrices and morph offsets are read as raw words: the
// structured-buffer layout of float3 members differs between compilers, the
// 64-byte vertex and the packed offset tables must stay byte-exact.

cbuffer ConstantBuffer : register(b0) {
    uint mMaxBoneCount;
    uint mMaxVertexCount;
    uint mVertexMorphCount;
    uint mUvMorphCount;
    uint mMorphOffset;
};

RWByteAddressBuffer outVertexBuffer : register(u0);
ByteAddressBuffer boneMat : register(t0);            // 16 floats per bone
ByteAddressBuffer vertexMorphWeight : register(t1);  // 1 float per morph
ByteAddressBuffer vertexMorphBuffer : register(t2);  // 3 floats per entry
ByteAddressBuffer uvMorphWeight : register(t3);      // 1 float per morph
ByteAddressBuffer uvMorphBuffer : register(t4);      // 2 floats per entry
ByteAddressBuffer vertexBuffer : register(t5);       // 64 bytes per vertex

static const uint kVertexStride = 64;

[numthreads(128, 1, 1)]
void main(uint3 id : SV_DispatchThreadID) {
    const uint v = id.x;
    if (v >= mMaxVertexCount) {
        return;
    }
    const uint base = v * kVertexStride;
    float3 pos = asfloat(vertexBuffer.Load3(base));
    const float3 normal = asfloat(vertexBuffer.Load3(base + 12));
    float2 uv = asfloat(vertexBuffer.Load2(base + 24));
    const uint4 boneRef = vertexBuffer.Load4(base + 32);
    const float4 boneWeight = asfloat(vertexBuffer.Load4(base + 48));

    for (uint m = 0; m < mVertexMorphCount; ++m) {
        const float w = asfloat(vertexMorphWeight.Load(m * 4));
        if (w > 0.0f) {
            pos += asfloat(vertexMorphBuffer.Load3((m * mMorphOffset + v) * 12)) * w;
        }
    }
    for (uint k = 0; k < mUvMorphCount; ++k) {
        const float w = asfloat(uvMorphWeight.Load(k * 4));
        if (w > 0.0f) {
            uv += asfloat(uvMorphBuffer.Load2((k * mMorphOffset + v) * 8)) * w;
        }
    }

    float4 row0 = 0, row1 = 0, row2 = 0;
    [unroll] for (uint i = 0; i < 4; ++i) {
        if (boneRef[i] < mMaxBoneCount && boneWeight[i] > 0.0f) {
            const uint b = boneRef[i] * 64;
            row0 += asfloat(boneMat.Load4(b)) * boneWeight[i];
            row1 += asfloat(boneMat.Load4(b + 16)) * boneWeight[i];
            row2 += asfloat(boneMat.Load4(b + 32)) * boneWeight[i];
        }
    }
    const float4 p = float4(pos, 1.0f);
    const float3 skinnedPos = float3(dot(p, row0), dot(p, row1), dot(p, row2));
    const float3 skinnedNormal =
        float3(dot(normal, row0.xyz), dot(normal, row1.xyz), dot(normal, row2.xyz));

    outVertexBuffer.Store3(base, asuint(skinnedPos));
    outVertexBuffer.Store3(base + 12, asuint(skinnedNormal));
    outVertexBuffer.Store2(base + 24, asuint(uv));
}
