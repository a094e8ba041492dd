// DirectX text meshes written by the tests: one of every block kind the reader takes.
#include "tests/support/x_writer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <vector>

namespace qv {

namespace {

constexpr const char* kHeader = "xof 0303txt 0032\n";

// The templates real exporters put first; the reader skips them.
constexpr const char* kTemplates = R"(template Header {
 <3D82AB43-62DA-11cf-AB39-0020AF71E433>
 WORD major;
 WORD minor;
 DWORD flags;
}
template Vector {
 <3D82AB5E-62DA-11cf-AB39-0020AF71E433>
 FLOAT x;
 FLOAT y;
 FLOAT z;
}
Header { 1; 0; 1; }
)";

std::string Num(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", v);
    return text;
}

std::string Vectors(const std::vector<std::array<double, 3>>& list) {
    std::string out = std::to_string(list.size()) + ";\n";
    for (std::size_t i = 0; i < list.size(); ++i) {
        out += Num(list[i][0]) + ";" + Num(list[i][1]) + ";" + Num(list[i][2]) + ";" +
               (i + 1 < list.size() ? ",\n" : ";\n");
    }
    return out;
}

std::string Faces(const std::vector<std::vector<int>>& faces) {
    std::string out = std::to_string(faces.size()) + ";\n";
    for (std::size_t f = 0; f < faces.size(); ++f) {
        out += std::to_string(faces[f].size()) + ";";
        for (std::size_t k = 0; k < faces[f].size(); ++k) {
            out += std::to_string(faces[f][k]) + (k + 1 < faces[f].size() ? "," : "");
        }
        out += f + 1 < faces.size() ? ";,\n" : ";;\n";
    }
    return out;
}

std::string Material(const std::string& name, double r, double g, double b, double a,
                     const std::string& texture) {
    std::string out = "Material " + name + " {\n " + Num(r) + ";" + Num(g) + ";" + Num(b) + ";" +
                      Num(a) + ";;\n 5.000000;\n 0.200000;0.200000;0.200000;;\n" +
                      " 0.300000;0.300000;0.300000;;\n";
    if (!texture.empty()) {
        out += " TextureFilename { \"" + texture + "\"; }\n";
    }
    return out + "}\n";
}

}  // namespace

std::string XTexturedCube(const std::string& texture) {
    std::vector<std::array<double, 3>> positions;
    std::vector<std::array<double, 3>> normals;
    std::vector<std::vector<int>> faces;
    std::string uv;
    // Each side: its normal axis and sign; four corners in winding order.
    for (int axis = 0; axis < 3; ++axis) {
        for (int sign : {1, -1}) {
            const int u = (axis + 1) % 3;
            const int v = (axis + 2) % 3;
            std::array<double, 3> n{};
            n[axis] = sign;
            normals.push_back(n);
            std::vector<int> face;
            const double corners[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
            for (int k = 0; k < 4; ++k) {
                const int c = sign > 0 ? k : 3 - k;
                std::array<double, 3> p{};
                p[axis] = sign;
                p[u] = corners[c][0];
                p[v] = corners[c][1];
                face.push_back(static_cast<int>(positions.size()));
                positions.push_back(p);
                uv += Num((corners[c][0] + 1) / 2) + ";" + Num((1 - corners[c][1]) / 2) + ";";
                uv += positions.size() < 24 ? ",\n" : ";\n";
            }
            faces.push_back(face);
        }
    }
    std::vector<std::vector<int>> normalFaces;
    for (int f = 0; f < 6; ++f) {
        normalFaces.push_back({f, f, f, f});
    }
    return std::string(kHeader) + kTemplates + "Mesh Cube {\n" + Vectors(positions) + Faces(faces) +
           "MeshNormals {\n" + Vectors(normals) + Faces(normalFaces) + "}\n" +
           "MeshTextureCoords {\n24;\n" + uv + "}\n" +
           "MeshMaterialList {\n1;\n6;\n0,0,0,0,0,0;;\n" + Material("Side", 1, 1, 1, 1, texture) +
           "}\n}\n";
}

std::string XFrameHierarchy() {
    const std::string triangle = Vectors({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}) + Faces({{0, 1, 2}});
    return std::string("xof 0302txt 0064\n") +
           "// frames with matrices, the child inside its parent\n"
           "Frame Root {\n FrameTransformMatrix {\n"
           "  1.0,0.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,0.0,1.0,0.0,0.0,1.0,0.0,1.0;;\n }\n"
           " Frame Child {\n  FrameTransformMatrix {\n"
           "   2.0,0.0,0.0,0.0,0.0,2.0,0.0,0.0,0.0,0.0,2.0,0.0,0.0,0.0,0.0,1.0;;\n  }\n"
           "  Mesh Inner {\n" +
           triangle + "  }\n }\n}\n# a loose mesh at the top\nMesh Loose {\n" + triangle + "}\n";
}

std::string XPolygonFan() {
    std::vector<std::array<double, 3>> positions;
    for (int k = 0; k < 6; ++k) {
        const double a = k * 3.14159265358979 / 3;
        positions.push_back({std::cos(a), 0, std::sin(a)});
    }
    for (const auto& p :
         std::vector<std::array<double, 3>>{{2, 0, -1}, {4, 0, -1}, {4, 0, 1}, {2, 0, 1}}) {
        positions.push_back(p);
    }
    return std::string(kHeader) + "Mesh Fan {\n" + Vectors(positions) +
           Faces({{5, 4, 3, 2, 1, 0}, {9, 8, 7, 6}}) + "MeshMaterialList {\n2;\n2;\n0,\n1;;\n" +
           Material("Red", 1, 0, 0, 1, "") + Material("Green", 0, 1, 0, 0.5, "") + "}\n}\n";
}

std::string XSphereMapped() {
    const std::vector<std::array<double, 3>> positions = {{1, 0, 0},  {-1, 0, 0}, {0, 1, 0},
                                                          {0, -1, 0}, {0, 0, 1},  {0, 0, -1}};
    const std::vector<std::vector<int>> faces = {{0, 2, 4}, {4, 2, 1}, {1, 2, 5}, {5, 2, 0},
                                                 {4, 3, 0}, {1, 3, 4}, {5, 3, 1}, {0, 3, 5}};
    std::string uv = "6;\n";
    for (int i = 0; i < 6; ++i) {
        uv += Num(i / 6.0) + ";" + Num(0.5) + (i < 5 ? ";,\n" : ";;\n");
    }
    return std::string(kHeader) + Material("Glow", 0.8, 0.8, 1, 1, "glow.spa") +
           "Frame Ball {\nMesh Ball {\n" + Vectors(positions) + Faces(faces) +
           "MeshTextureCoords {\n" + uv + "}\n" +
           "MeshMaterialList {\n2;\n8;\n0,0,0,0,1,1,1,1;;\n" +
           Material("Skin", 1, 1, 1, 1, "base.png*env.sph") + "{ Glow }\n}\n}\n}\n";
}

std::string XLargeGrid(std::size_t bytes) {
    // About 120 bytes of text per grid point with its normal, coordinates and faces.
    const int side = std::max(2, static_cast<int>(std::sqrt(static_cast<double>(bytes) / 120)));
    std::vector<std::array<double, 3>> positions;
    std::vector<std::array<double, 3>> normals;
    std::string uv = std::to_string(side * side) + ";\n";
    for (int z = 0; z < side; ++z) {
        for (int x = 0; x < side; ++x) {
            positions.push_back({x * 0.5, std::sin(x * 0.1) * std::cos(z * 0.1), z * 0.5});
            normals.push_back({0, 1, 0});
            uv += Num(double(x) / side) + ";" + Num(double(z) / side) + ";,\n";
        }
    }
    uv.replace(uv.size() - 2, 1, ";");
    std::vector<std::vector<int>> faces;
    for (int z = 0; z + 1 < side; ++z) {
        for (int x = 0; x + 1 < side; ++x) {
            const int i = z * side + x;
            faces.push_back({i, i + side, i + side + 1, i + 1});
        }
    }
    return std::string(kHeader) + kTemplates + "Mesh Floor {\n" + Vectors(positions) +
           Faces(faces) + "MeshNormals {\n" + Vectors(normals) + Faces(faces) + "}\n" +
           "MeshTextureCoords {\n" + uv + "}\n" + "MeshMaterialList {\n1;\n1;\n0;;\n" +
           Material("Floor", 0.6, 0.6, 0.6, 1, "floor.png") + "}\n}\n";
}

}  // namespace qv
