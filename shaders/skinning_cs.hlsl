// Skinning and vertex/UV morphing, one thread per vertex.
// Vertices, bone matrices and morph offsets are read as raw words: the
// structured-buffer layout of float3 members differs between compilers, the
// 64-byte vertex and the packed offset tables must stay byte-exact.

cbuffer ConstantBuffer : register(b0) {
    uint mMaxBoneCount;
    uint mMaxVertexCount;
};

RWByteAddressBuffer outVertexBuffer : register(u0);
ByteAddressBuffer boneMat : register(t0);            // 16 floats per bone
// The morph tables hold per vertex only the morphs that move it, in morph
// order: mMaxVertexCount + 1 start indices, then entries of the morph's
// index and its offset (3 floats for positions, 2 for UVs).
ByteAddressBuffer vertexMorphWeight : register(t1);  // 1 float per morph
ByteAddressBuffer vertexMorphBuffer : register(t2);
ByteAddressBuffer uvMorphWeight : register(t3);      // 1 float per morph
ByteAddressBuffer uvMorphBuffer : register(t4);
ByteAddressBuffer vertexBuffer : register(t5);       // 64 bytes per vertex
// SDEF per vertex, 48 bytes: C and a flag (1 for SDEF), then the two points
// the bones carry (see runtime/skinning.h).
ByteAddressBuffer sdefBuffer : register(t6);

static const uint kVertexStride = 64;
static const uint kSdefStride = 48;
static const uint kVertexMorphEntry = 16;
static const uint kUvMorphEntry = 12;

// The rotation of a bone matrix as a quaternion (x, y, z, w). The matrix is
// stored transposed: m[r][c] of its row-vector form is column r of row c.
float4 RotationOf(float4 c0, float4 c1, float4 c2) {
    const float m00 = c0.x, m01 = c1.x, m02 = c2.x;
    const float m10 = c0.y, m11 = c1.y, m12 = c2.y;
    const float m20 = c0.z, m21 = c1.z, m22 = c2.z;
    const float trace = m00 + m11 + m22;
    float4 q;
    if (trace > 0.0f) {
        const float s = sqrt(trace + 1.0f) * 2.0f;
        q = float4((m12 - m21) / s, (m20 - m02) / s, (m01 - m10) / s, 0.25f * s);
    } else if (m00 > m11 && m00 > m22) {
        const float s = sqrt(1.0f + m00 - m11 - m22) * 2.0f;
        q = float4(0.25f * s, (m01 + m10) / s, (m02 + m20) / s, (m12 - m21) / s);
    } else if (m11 > m22) {
        const float s = sqrt(1.0f + m11 - m00 - m22) * 2.0f;
        q = float4((m01 + m10) / s, 0.25f * s, (m12 + m21) / s, (m20 - m02) / s);
    } else {
        const float s = sqrt(1.0f + m22 - m00 - m11) * 2.0f;
        q = float4((m02 + m20) / s, (m12 + m21) / s, 0.25f * s, (m01 - m10) / s);
    }
    return q;
}

// v turned by the unit quaternion q, as a row vector times R(q).
float3 Turn(float3 v, float4 q) {
    const float x = q.x, y = q.y, z = q.z, w = q.w;
    const float3 r0 = float3(1.0f - 2.0f * (y * y + z * z), 2.0f * (x * y + z * w), 2.0f * (x * z - y * w));
    const float3 r1 = float3(2.0f * (x * y - z * w), 1.0f - 2.0f * (x * x + z * z), 2.0f * (y * z + x * w));
    const float3 r2 = float3(2.0f * (x * z + y * w), 2.0f * (y * z - x * w), 1.0f - 2.0f * (x * x + y * y));
    return v.x * r0 + v.y * r1 + v.z * r2;
}

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

    const uint entries = (mMaxVertexCount + 1) * 4;
    const uint2 vertexMorphs = vertexMorphBuffer.Load2(v * 4);
    for (uint e = vertexMorphs.x; e < vertexMorphs.y; ++e) {
        const uint at = entries + e * kVertexMorphEntry;
        const float w = asfloat(vertexMorphWeight.Load(vertexMorphBuffer.Load(at) * 4));
        if (w > 0.0f) {
            pos += asfloat(vertexMorphBuffer.Load3(at + 4)) * w;
        }
    }
    const uint2 uvMorphs = uvMorphBuffer.Load2(v * 4);
    for (uint u = uvMorphs.x; u < uvMorphs.y; ++u) {
        const uint at = entries + u * kUvMorphEntry;
        const float w = asfloat(uvMorphWeight.Load(uvMorphBuffer.Load(at) * 4));
        if (w > 0.0f) {
            uv += asfloat(uvMorphBuffer.Load2(at + 4)) * w;
        }
    }

    const float4 sdefC = asfloat(sdefBuffer.Load4(v * kSdefStride));
    if (sdefC.w != 0.0f && boneRef[0] < mMaxBoneCount && boneRef[1] < mMaxBoneCount) {
        // SDEF: turn about C by the blend of the two bones' rotations, and
        // carry C along with the bones' weighted matrices.
        const uint b0 = boneRef[0] * 64, b1 = boneRef[1] * 64;
        const float4 a0 = asfloat(boneMat.Load4(b0)), a1 = asfloat(boneMat.Load4(b0 + 16)),
                     a2 = asfloat(boneMat.Load4(b0 + 32));
        const float4 c0 = asfloat(boneMat.Load4(b1)), c1 = asfloat(boneMat.Load4(b1 + 16)),
                     c2 = asfloat(boneMat.Load4(b1 + 32));
        float4 q0 = RotationOf(a0, a1, a2);
        const float4 q1 = RotationOf(c0, c1, c2);
        if (dot(q0, q1) < 0.0f) {
            q0 = -q0;
        }
        float4 q = q0 * boneWeight[0] + q1 * boneWeight[1];
        const float len = length(q);
        q = len > 0.0f ? q / len : float4(0, 0, 0, 1);
        const float4 cr0 = float4(asfloat(sdefBuffer.Load3(v * kSdefStride + 16)), 1.0f);
        const float4 cr1 = float4(asfloat(sdefBuffer.Load3(v * kSdefStride + 32)), 1.0f);
        const float3 carried0 = float3(dot(cr0, a0), dot(cr0, a1), dot(cr0, a2));
        const float3 carried1 = float3(dot(cr1, c0), dot(cr1, c1), dot(cr1, c2));
        const float3 sdefPos = Turn(pos - sdefC.xyz, q) + carried0 * boneWeight[0] +
                               carried1 * boneWeight[1];
        outVertexBuffer.Store3(base, asuint(sdefPos));
        outVertexBuffer.Store3(base + 12, asuint(Turn(normal, q)));
        outVertexBuffer.Store2(base + 24, asuint(uv));
        return;
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
