// What the file-checking tool prints for an accessory mesh: frames, meshes, materials, textures.
#include "tools/x_report.h"

#include <set>
#include <sstream>

#include "platform/utf16_text.h"

namespace qv {

namespace {

// Every texture and sphere map the meshes name, each once, in first-use order.
std::vector<std::string> TextureNames(const XModel& model) {
    std::vector<std::string> names;
    std::set<std::u16string> seen;
    for (const XMesh& mesh : model.meshes) {
        for (const XMaterial& m : mesh.materials) {
            for (const std::u16string* name : {&m.texture, &m.sphere}) {
                if (!name->empty() && seen.insert(*name).second) {
                    names.push_back(ToUtf8(*name));
                }
            }
        }
    }
    return names;
}

const char* SphereModeName(XSphereMode mode) {
    return mode == kXSphereMultiply ? "multiply" : mode == kXSphereAdd ? "add" : "none";
}

}  // namespace

nlohmann::ordered_json XReportJson(const std::string& file, const XModel& model) {
    nlohmann::ordered_json j;
    j["file"] = file;
    j["format"] = "X";
    j["version"] = std::to_string(model.versionMajor) + "." + std::to_string(model.versionMinor);
    j["float_bits"] = model.floatBits;
    j["frames"] = nlohmann::ordered_json::array();
    for (const XFrame& frame : model.frames) {
        j["frames"].push_back({{"name", ToUtf8(frame.name)}, {"parent", frame.parent}});
    }
    j["meshes"] = nlohmann::ordered_json::array();
    for (const XMesh& mesh : model.meshes) {
        nlohmann::ordered_json m;
        m["name"] = ToUtf8(mesh.name);
        m["frame"] = mesh.frame;
        m["positions"] = mesh.positions.size();
        m["triangles"] = mesh.triangleCount();
        m["normals"] = mesh.normals.size();
        m["texcoords"] = mesh.texcoords.size();
        m["materials"] = nlohmann::ordered_json::array();
        for (const XMaterial& mat : mesh.materials) {
            m["materials"].push_back(
                {{"name", ToUtf8(mat.name)},
                 {"color", {mat.faceColor.x, mat.faceColor.y, mat.faceColor.z, mat.faceColor.w}},
                 {"power", mat.power},
                 {"texture", ToUtf8(mat.texture)},
                 {"sphere", ToUtf8(mat.sphere)},
                 {"sphere_mode", SphereModeName(mat.sphereMode)}});
        }
        j["meshes"].push_back(std::move(m));
    }
    j["textures"] = TextureNames(model);
    return j;
}

std::string XReportText(const std::string& file, const XModel& model) {
    std::ostringstream out;
    out << file << "\n";
    out << "  format      DirectX text mesh " << model.versionMajor << "." << model.versionMinor
        << ", " << model.floatBits << "-bit floats\n";
    out << "  frames      " << model.frames.size() << "\n";
    for (const XFrame& frame : model.frames) {
        int depth = 0;
        for (std::int32_t p = frame.parent; p >= 0;
             p = model.frames[static_cast<std::size_t>(p)].parent) {
            ++depth;
        }
        out << "    " << std::string(static_cast<std::size_t>(depth) * 2, ' ') << ToUtf8(frame.name)
            << "\n";
    }
    out << "  meshes      " << model.meshes.size() << "\n";
    for (const XMesh& mesh : model.meshes) {
        out << "    " << (mesh.name.empty() ? "(unnamed)" : ToUtf8(mesh.name)) << ": "
            << mesh.positions.size() << " positions, " << mesh.triangleCount() << " triangles, "
            << mesh.normals.size() << " normals, " << mesh.texcoords.size()
            << " texture coordinates, " << mesh.materials.size() << " materials\n";
        for (const XMaterial& mat : mesh.materials) {
            out << "      material " << ToUtf8(mat.name) << " colour " << mat.faceColor.x << " "
                << mat.faceColor.y << " " << mat.faceColor.z << " " << mat.faceColor.w;
            if (!mat.texture.empty()) {
                out << " texture " << ToUtf8(mat.texture);
            }
            if (!mat.sphere.empty()) {
                out << " sphere " << ToUtf8(mat.sphere) << " (" << SphereModeName(mat.sphereMode)
                    << ")";
            }
            out << "\n";
        }
    }
    const std::vector<std::string> textures = TextureNames(model);
    out << "  textures    " << textures.size() << "\n";
    for (const std::string& name : textures) {
        out << "    " << name << "\n";
    }
    return out.str();
}

}  // namespace qv
