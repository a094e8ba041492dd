// Counts, names and checks a model's or motion's records for the file report.
#include "tools/inspect_report.h"

#include <array>
#include <set>
#include <sstream>

#include "formats/pmd_model.h"
#include "formats/text_decode.h"

namespace qv {

namespace {

constexpr const char* kMorphTypeNames[11] = {"group", "vertex", "bone",     "uv",   "uv1",    "uv2",
                                             "uv3",   "uv4",    "material", "flip", "impulse"};

std::array<std::size_t, 11> CountMorphTypes(const PmxModel& model) {
    std::array<std::size_t, 11> counts{};
    for (const PmxMorph& morph : model.morphs) {
        if (morph.type < counts.size()) {
            ++counts[morph.type];
        }
    }
    return counts;
}

std::size_t CountIkBones(const PmxModel& model) {
    std::size_t n = 0;
    for (const PmxBone& bone : model.bones) {
        n += (bone.flags & kPmxBoneIk) != 0;
    }
    return n;
}

// -1 ("none") is always fine; anything else must point into a list of size n.
bool OutOfRange(std::int64_t index, std::size_t n) {
    return index != -1 && (index < 0 || static_cast<std::uint64_t>(index) >= n);
}

// A model read from the older format keeps that format's signature.
bool IsOlderFormat(const PmxModel& model) {
    return model.signature == kPmdSignatureText;
}

std::string FormatVersion(float version) {
    std::ostringstream out;
    out.setf(std::ios::fixed);
    out.precision(1);
    out << version;
    return out.str();
}

}  // namespace

std::vector<std::string> NonFiniteWarnings(const NonFiniteFields& nonFinite) {
    std::vector<std::string> warnings;
    for (const std::string& field : nonFinite.fields) {
        warnings.push_back(field + ": not a finite number, read as its neutral value");
    }
    if (nonFinite.count > nonFinite.fields.size()) {
        warnings.push_back("... and " + std::to_string(nonFinite.count - nonFinite.fields.size()) +
                           " more numbers that are not finite");
    }
    return warnings;
}

namespace {

// Long lists of the same fault would drown the summary: the first ones are
// kept, the rest counted.
class Warnings {
public:
    void Add(std::string text) {
        if (lines_.size() < 20) {
            lines_.push_back(std::move(text));
        } else {
            ++suppressed_;
        }
    }
    std::vector<std::string> Finish() {
        if (suppressed_) {
            lines_.push_back("... and " + std::to_string(suppressed_) + " more");
        }
        return std::move(lines_);
    }

private:
    std::vector<std::string> lines_;
    std::size_t suppressed_ = 0;
};

void CheckFaces(const PmxModel& model, Warnings& warn) {
    const std::size_t nv = model.vertices.size();
    std::size_t badFaces = 0;
    for (std::uint32_t index : model.indices) {
        badFaces += index >= nv;
    }
    if (badFaces) {
        warn.Add(std::to_string(badFaces) + " face indices point outside the " +
                 std::to_string(nv) + " vertices");
    }
    std::uint64_t drawn = 0;
    for (const PmxMaterial& mat : model.materials) {
        drawn += mat.indexCount;
    }
    if (drawn > model.indices.size()) {
        warn.Add("materials draw " + std::to_string(drawn) + " indices but the model has " +
                 std::to_string(model.indices.size()));
    }
}

void CheckVertices(const PmxModel& model, Warnings& warn) {
    for (std::size_t i = 0; i < model.vertices.size(); ++i) {
        const PmxBoneWeight& w = model.vertices[i].weight;
        for (int k = 0; k < 4; ++k) {
            if (OutOfRange(w.boneIndex[k], model.bones.size())) {
                warn.Add("vertex " + std::to_string(i) + ": bone " +
                         std::to_string(w.boneIndex[k]) + " does not exist");
                break;
            }
        }
    }
}

void CheckMaterials(const PmxModel& model, Warnings& warn) {
    const std::size_t nt = model.textures.size();
    for (std::size_t i = 0; i < model.materials.size(); ++i) {
        const PmxMaterial& mat = model.materials[i];
        const std::string where = "material " + std::to_string(i) + " (" + ToUtf8(mat.name) + ")";
        if (OutOfRange(mat.textureIndex, nt)) {
            warn.Add(where + ": texture " + std::to_string(mat.textureIndex) + " does not exist");
        }
        if (OutOfRange(mat.sphereTextureIndex, nt)) {
            warn.Add(where + ": sphere texture " + std::to_string(mat.sphereTextureIndex) +
                     " does not exist");
        }
        if (mat.sharedToon == 0 && OutOfRange(mat.toonIndex, nt)) {
            warn.Add(where + ": toon texture " + std::to_string(mat.toonIndex) + " does not exist");
        }
    }
}

void CheckBones(const PmxModel& model, Warnings& warn) {
    const std::size_t nb = model.bones.size();
    for (std::size_t i = 0; i < nb; ++i) {
        const PmxBone& bone = model.bones[i];
        const std::string where = "bone " + std::to_string(i) + " (" + ToUtf8(bone.name) + ")";
        if (OutOfRange(bone.parentIndex, nb)) {
            warn.Add(where + ": parent " + std::to_string(bone.parentIndex) + " does not exist");
        }
        if ((bone.flags & kPmxBoneTailIsBone) && OutOfRange(bone.tailIndex, nb)) {
            warn.Add(where + ": tail bone " + std::to_string(bone.tailIndex) + " does not exist");
        }
        if ((bone.flags & (kPmxBoneAppendRotation | kPmxBoneAppendTranslation)) &&
            OutOfRange(bone.appendParentIndex, nb)) {
            warn.Add(where + ": append parent " + std::to_string(bone.appendParentIndex) +
                     " does not exist");
        }
        if (bone.flags & kPmxBoneIk) {
            if (OutOfRange(bone.ikTargetIndex, nb)) {
                warn.Add(where + ": IK target " + std::to_string(bone.ikTargetIndex) +
                         " does not exist");
            }
            for (const PmxIkLink& link : bone.ikLinks) {
                if (OutOfRange(link.boneIndex, nb)) {
                    warn.Add(where + ": IK link " + std::to_string(link.boneIndex) +
                             " does not exist");
                }
            }
        }
    }
}

// Morph offsets and display frame entries, which point into the other lists.
void CheckMorphsAndFrames(const PmxModel& model, Warnings& warn) {
    const std::size_t nv = model.vertices.size(), nb = model.bones.size(),
                      nmo = model.morphs.size();
    for (std::size_t i = 0; i < nmo; ++i) {
        const PmxMorph& morph = model.morphs[i];
        std::size_t bad = 0;
        for (const auto& o : morph.groupOffsets)
            bad += OutOfRange(o.morphIndex, nmo);
        for (const auto& o : morph.vertexOffsets)
            bad += OutOfRange(o.vertexIndex, nv);
        for (const auto& o : morph.boneOffsets)
            bad += OutOfRange(o.boneIndex, nb);
        for (const auto& o : morph.uvOffsets)
            bad += OutOfRange(o.vertexIndex, nv);
        for (const auto& o : morph.materialOffsets)
            bad += OutOfRange(o.materialIndex, model.materials.size());
        for (const auto& o : morph.impulseOffsets)
            bad += OutOfRange(o.rigidBodyIndex, model.rigidBodies.size());
        if (bad) {
            warn.Add("morph " + std::to_string(i) + " (" + ToUtf8(morph.name) +
                     "): " + std::to_string(bad) + " offsets point outside their lists");
        }
    }
    for (std::size_t i = 0; i < model.displayFrames.size(); ++i) {
        for (const PmxDisplayFrameElement& e : model.displayFrames[i].elements) {
            if (OutOfRange(e.index, e.kind == 0 ? nb : nmo)) {
                warn.Add("display frame " + std::to_string(i) + ": " +
                         (e.kind == 0 ? "bone " : "morph ") + std::to_string(e.index) +
                         " does not exist");
            }
        }
    }
}

void CheckPhysics(const PmxModel& model, Warnings& warn) {
    const std::size_t nr = model.rigidBodies.size();
    for (std::size_t i = 0; i < nr; ++i) {
        const PmxRigidBody& body = model.rigidBodies[i];
        if (OutOfRange(body.boneIndex, model.bones.size())) {
            warn.Add("rigid body " + std::to_string(i) + " (" + ToUtf8(body.name) + "): bone " +
                     std::to_string(body.boneIndex) + " does not exist");
        }
    }
    for (std::size_t i = 0; i < model.joints.size(); ++i) {
        const PmxJoint& joint = model.joints[i];
        if (OutOfRange(joint.rigidBodyA, nr) || OutOfRange(joint.rigidBodyB, nr)) {
            warn.Add("joint " + std::to_string(i) + " (" + ToUtf8(joint.name) + "): rigid body " +
                     std::to_string(joint.rigidBodyA) + " or " + std::to_string(joint.rigidBodyB) +
                     " does not exist");
        }
    }
}

}  // namespace

std::vector<std::string> PmxIndexWarnings(const PmxModel& model) {
    Warnings warnings;
    CheckFaces(model, warnings);
    CheckVertices(model, warnings);
    CheckMaterials(model, warnings);
    CheckBones(model, warnings);
    CheckMorphsAndFrames(model, warnings);
    CheckPhysics(model, warnings);
    return warnings.Finish();
}

nlohmann::ordered_json PmxReportJson(const std::string& file, const PmxModel& model) {
    nlohmann::ordered_json j;
    j["file"] = file;
    const bool older = IsOlderFormat(model);
    j["format"] = older ? "PMD" : "PMX";
    j["version"] = model.version;
    j["encoding"] = older ? "CP932" : model.textEncoding == 0 ? "UTF-16LE" : "UTF-8";
    j["additional_uv"] = model.additionalUvCount;
    j["index_sizes"] = {
        {"vertex", model.vertexIndexSize},     {"texture", model.textureIndexSize},
        {"material", model.materialIndexSize}, {"bone", model.boneIndexSize},
        {"morph", model.morphIndexSize},       {"rigid_body", model.rigidBodyIndexSize}};
    j["name"] = ToUtf8(model.name);
    j["name_english"] = ToUtf8(model.nameEnglish);
    j["vertices"] = model.vertices.size();
    j["indices"] = model.indices.size();
    j["textures"] = model.textures.size();
    j["materials"] = model.materials.size();
    j["bones"] = model.bones.size();
    j["ik_bones"] = CountIkBones(model);
    j["morphs"] = model.morphs.size();
    nlohmann::ordered_json types = nlohmann::ordered_json::object();
    const auto counts = CountMorphTypes(model);
    for (std::size_t t = 0; t < counts.size(); ++t) {
        types[std::to_string(t)] = counts[t];
    }
    j["morph_types"] = types;
    j["display_frames"] = model.displayFrames.size();
    j["rigid_bodies"] = model.rigidBodies.size();
    j["joints"] = model.joints.size();
    j["non_finite_numbers"] = model.nonFinite.count;
    j["warnings"] = NonFiniteWarnings(model.nonFinite);
    return j;
}

nlohmann::ordered_json VmdReportJson(const std::string& file, const VmdMotion& motion) {
    std::size_t boneKeys = 0, morphKeys = 0;
    for (const auto& [name, keys] : motion.boneKeys)
        boneKeys += keys.size();
    for (const auto& [name, keys] : motion.morphKeys)
        morphKeys += keys.size();
    nlohmann::ordered_json j;
    j["file"] = file;
    j["format"] = "VMD";
    j["signature"] = ToUtf8(motion.signature);
    j["model_name"] = ToUtf8(motion.modelName);
    j["bone_keys"] = boneKeys;
    j["bone_names"] = motion.boneKeys.size();
    j["morph_keys"] = morphKeys;
    j["morph_names"] = motion.morphKeys.size();
    j["camera_keys"] = motion.cameraKeys.size();
    j["light_keys"] = motion.lightKeys.size();
    j["shadow_keys"] = motion.shadowKeys.size();
    j["ik_keys"] = motion.ikKeys.size();
    j["non_finite_numbers"] = motion.nonFinite.count;
    j["warnings"] = NonFiniteWarnings(motion.nonFinite);
    return j;
}

nlohmann::ordered_json FailureJson(const std::string& file, const std::string& error, HRESULT hr) {
    nlohmann::ordered_json j;
    j["file"] = file;
    j["error"] = error;
    j["result"] = FormatResult(hr);
    return j;
}

std::string PmxReportText(const std::string& file, const PmxModel& model) {
    std::ostringstream out;
    out << file << "\n";
    const bool older = IsOlderFormat(model);
    out << "  format      " << (older ? "PMD " : "PMX ") << FormatVersion(model.version) << ", "
        << (older                     ? "CP932"
            : model.textEncoding == 0 ? "UTF-16LE"
                                      : "UTF-8")
        << " texts, " << unsigned(model.additionalUvCount) << " additional UV sets\n";
    out << "  index sizes vertex " << model.vertexIndexSize << ", texture "
        << model.textureIndexSize << ", material " << model.materialIndexSize << ", bone "
        << model.boneIndexSize << ", morph " << model.morphIndexSize << ", rigid body "
        << model.rigidBodyIndexSize << "\n";
    out << "  name        " << ToUtf8(model.name) << "\n";
    out << "  English     " << ToUtf8(model.nameEnglish) << "\n";
    out << "  vertices    " << model.vertices.size() << "\n";
    out << "  triangles   " << model.indices.size() / 3 << " (" << model.indices.size()
        << " indices)\n";
    out << "  textures    " << model.textures.size() << "\n";
    out << "  materials   " << model.materials.size() << "\n";
    out << "  bones       " << model.bones.size() << " (" << CountIkBones(model) << " IK)\n";
    out << "  morphs      " << model.morphs.size();
    const auto counts = CountMorphTypes(model);
    const char* sep = " (";
    for (std::size_t t = 0; t < counts.size(); ++t) {
        if (counts[t]) {
            out << sep << kMorphTypeNames[t] << " " << counts[t];
            sep = ", ";
        }
    }
    out << (model.morphs.empty() ? "" : ")") << "\n";
    out << "  frames      " << model.displayFrames.size() << "\n";
    out << "  bodies      " << model.rigidBodies.size() << "\n";
    out << "  joints      " << model.joints.size() << "\n";
    for (const std::string& warning : PmxIndexWarnings(model)) {
        out << "  warning: " << warning << "\n";
    }
    for (const std::string& warning : NonFiniteWarnings(model.nonFinite)) {
        out << "  warning: " << warning << "\n";
    }
    return out.str();
}

std::string VmdReportText(const std::string& file, const VmdMotion& motion) {
    std::size_t boneKeys = 0, morphKeys = 0;
    std::uint32_t lastFrame = 0;
    for (const auto& [name, keys] : motion.boneKeys) {
        boneKeys += keys.size();
        for (const VmdBoneKey& k : keys)
            lastFrame = std::max(lastFrame, k.frame);
    }
    for (const auto& [name, keys] : motion.morphKeys) {
        morphKeys += keys.size();
        for (const VmdMorphKey& k : keys)
            lastFrame = std::max(lastFrame, k.frame);
    }
    std::ostringstream out;
    out << file << "\n";
    out << "  signature   " << ToUtf8(motion.signature) << "\n";
    out << "  model       " << ToUtf8(motion.modelName) << "\n";
    out << "  bone keys   " << boneKeys << " for " << motion.boneKeys.size() << " bones\n";
    out << "  morph keys  " << morphKeys << " for " << motion.morphKeys.size() << " morphs\n";
    out << "  last frame  " << lastFrame << " (" << lastFrame / 30.0 << " s at 30 fps)\n";
    out << "  camera keys " << motion.cameraKeys.size() << "\n";
    out << "  light keys  " << motion.lightKeys.size() << "\n";
    out << "  shadow keys " << motion.shadowKeys.size() << "\n";
    out << "  IK keys     " << motion.ikKeys.size() << "\n";
    for (const std::string& warning : NonFiniteWarnings(motion.nonFinite)) {
        out << "  warning: " << warning << "\n";
    }
    return out.str();
}

}  // namespace qv
