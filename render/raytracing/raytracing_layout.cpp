// Fills the ray-tracing constants, plans the geometry list and writes hit records.
#include "render/raytracing/raytracing_layout.h"

#include <cmath>
#include <cstring>

#include "render/model/model_resources.h"

namespace qv {

bool InvertMatrix(const Matrix4& m, Matrix4* out) {
    // Gauss-Jordan with partial pivoting on [m | I].
    double a[4][8];
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            a[r][c] = m.m[r][c];
            a[r][c + 4] = r == c ? 1.0 : 0.0;
        }
    }
    for (int c = 0; c < 4; ++c) {
        int pivot = c;
        for (int r = c + 1; r < 4; ++r) {
            if (std::abs(a[r][c]) > std::abs(a[pivot][c])) {
                pivot = r;
            }
        }
        if (!(std::abs(a[pivot][c]) > 1e-12)) {
            return false;
        }
        if (pivot != c) {
            for (int k = 0; k < 8; ++k) {
                std::swap(a[c][k], a[pivot][k]);
            }
        }
        const double scale = 1.0 / a[c][c];
        for (int k = 0; k < 8; ++k) {
            a[c][k] *= scale;
        }
        for (int r = 0; r < 4; ++r) {
            if (r != c && a[r][c] != 0.0) {
                const double f = a[r][c];
                for (int k = 0; k < 8; ++k) {
                    a[r][k] -= f * a[c][k];
                }
            }
        }
    }
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            out->m[r][c] = static_cast<float>(a[r][c + 4]);
        }
    }
    return true;
}

namespace {

void StoreRows(const Matrix4& m, float out[16]) {
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            out[4 * r + c] = m.m[r][c];
        }
    }
}

}  // namespace

RaytracingConstants BuildRaytracingConstants(const Matrix4& view, const Matrix4& projection,
                                             const Vector4& eye, const SceneLight& light,
                                             std::uint32_t diffuseSamples,
                                             std::uint32_t shadowSamples,
                                             std::int32_t shaderIndex) {
    RaytracingConstants c{};
    StoreRows(view, c.mView);
    // A camera without an inverse (a zero-sized view) sees nothing: the
    // zero matrix makes every ray of the frame a miss.
    Matrix4 inverse;
    if (InvertMatrix(Multiply(view, projection), &inverse)) {
        StoreRows(inverse, c.mInverseViewProjection);
    }
    const float cameraPos[4] = {eye.x, eye.y, eye.z, 1.0f};
    const float lightPos[4] = {light.position.x, light.position.y, light.position.z, 0.0f};
    const float lightDir[4] = {light.direction.x, light.direction.y, light.direction.z, 0.0f};
    const float lightColor[4] = {light.color.x, light.color.y, light.color.z, light.colorFactor};
    std::memcpy(c.cameraPos, cameraPos, sizeof(cameraPos));
    std::memcpy(c.lightPos, lightPos, sizeof(lightPos));
    std::memcpy(c.lightDir, lightDir, sizeof(lightDir));
    std::memcpy(c.lightColor, lightColor, sizeof(lightColor));
    c.diffuseSamples = diffuseSamples;
    c.shadowSamples = shadowSamples;
    c.shaderIndex = shaderIndex == 0 ? 0u : 1u;
    return c;
}

GeometryPlan PlanGeometries(const std::vector<const ModelGpu*>& models) {
    GeometryPlan plan;
    for (int pass = 0; pass < 2; ++pass) {
        const bool doubleSided = pass == 1;
        for (std::size_t m = 0; m < models.size(); ++m) {
            const ModelGpu& model = *models[m];
            if (model.vertexCount == 0) {
                continue;
            }
            for (std::size_t i = 0; i < model.materials.size(); ++i) {
                const MaterialDraw& draw = model.materials[i];
                if (draw.doubleSided != doubleSided || draw.indexCount < 3) {
                    continue;
                }
                RaytracingGeometry g;
                g.model = static_cast<std::uint32_t>(m);
                g.material = static_cast<std::uint32_t>(i);
                g.firstIndex = draw.firstIndex;
                g.triangleCount = draw.indexCount / 3;
                g.doubleSided = doubleSided;
                plan.geometries.push_back(g);
            }
        }
        if (pass == 0) {
            plan.singleSidedCount = static_cast<std::uint32_t>(plan.geometries.size());
        }
    }
    return plan;
}

void WriteHitRecords(std::byte* out, const std::byte* radianceId, const std::byte* shadowId,
                     const HitArguments& args) {
    std::memset(out, 0, 2 * kHitRecordStride);
    std::memcpy(out, radianceId, kShaderIdentifierSize);
    std::memcpy(out + kShaderIdentifierSize, &args, sizeof(args));
    std::memcpy(out + kHitRecordStride, shadowId, kShaderIdentifierSize);
    std::memcpy(out + kHitRecordStride + kShaderIdentifierSize, &args, sizeof(args));
}

}  // namespace qv
