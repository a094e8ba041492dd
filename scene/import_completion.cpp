// The main-thread half of importing: a finished batch becomes scene content in one frame.
#include <algorithm>
#include <cstdio>
#include <mutex>

#include "formats/text_decode.h"
#include "runtime/physics_bodies.h"
#include "scene/scene_content.h"

namespace qv {

SceneContent::SceneContent() {
    // The built-in programs; the renderer fills in their code.
    shaders.push_back({{}, {true, "QV shader(experimental)"}});
    shaders.push_back({{}, {true, "QV Toon shader"}});
}

SceneContent::~SceneContent() {
    if (physics != nullptr) {
        std::unique_lock writing(physics->lock);
        for (auto& model : models) {
            ReleaseBodies(*model.instance, *physics);
        }
    }
}

namespace {

// One failed file in the error detail: its path, a line break and the message.
// Each entry ends its own line so that several failures stay apart.
void AddFailure(std::string& detail, const std::filesystem::path& path,
                const std::string& message) {
    detail += path.string();
    detail += "\n";
    detail += message;
    if (detail.back() != '\n') {
        detail += "\n";
    }
}

// A file's warnings as the status and the model row show them: a model may
// lack dozens of files, so past ten lines only their number is given.
// count is how many there were, of which `warnings` may keep only the first.
std::vector<std::string> CappedWarnings(const std::vector<std::string>& warnings,
                                        std::size_t count) {
    constexpr std::size_t kShown = 10;
    const std::size_t shown = std::min(kShown, warnings.size());
    std::vector<std::string> lines(warnings.begin(),
                                   warnings.begin() + static_cast<std::ptrdiff_t>(shown));
    if (count > shown) {
        lines.push_back("and " + std::to_string(count - shown) + " more");
    }
    return lines;
}

// One loaded file's warnings in the status: its path, then one line each.
void AddWarnings(std::string& warned, const std::filesystem::path& path,
                 const std::vector<std::string>& lines) {
    if (lines.empty()) {
        return;
    }
    warned += path.string() + "\n";
    for (const std::string& line : lines) {
        warned += line + "\n";
    }
}

// The instance (with its bodies when a world is given) and its GPU half;
// false, with the bodies given back, when either fails. Any result but S_OK
// drops the content; a missing texture does not.
bool CreateDrawable(SceneContent& content, ModelInstance& instance, const PmxModel& model,
                    ModelTextures& textures, PhysicsWorld* physics) {
    HRESULT hr = CreateModelInstance(instance, model, physics);
    if (hr == S_OK && content.createModelResources) {
        hr = content.createModelResources(instance, model, textures);
    }
    if (hr != S_OK && physics != nullptr) {
        ReleaseBodies(instance, *physics);
    }
    return hr == S_OK;
}

// CreateDrawable for an imported `noun` ("model", "accessory"): the
// instance, or null after the failure, with the texture that caused it when
// one did (the user needs to know which file to look for), went to `detail`.
std::unique_ptr<ModelInstance> MakeDrawable(SceneContent& content,
                                            const std::filesystem::path& path,
                                            const PmxModel& model, ModelTextures& textures,
                                            PhysicsWorld* physics, const char* noun,
                                            std::string& detail) {
    auto instance = std::make_unique<ModelInstance>();
    if (CreateDrawable(content, *instance, model, textures, physics)) {
        return instance;
    }
    std::string message = "\nFailed to create graphic resource for this ";
    message += noun;
    message += "!";
    if (textures.result != S_OK && !textures.message.empty()) {
        message += "\n" + textures.message;
    }
    AddFailure(detail, path, message);
    return nullptr;
}

void CompleteModels(SceneContent& content, std::vector<ModelImport>& imports, unsigned& loaded,
                    std::string& detail, std::string& warned) {
    if (imports.empty()) {
        return;
    }
    PhysicsWorld* physics = content.physics.get();
    std::unique_lock<std::shared_mutex> writing;
    if (physics != nullptr) {
        writing = std::unique_lock<std::shared_mutex>(physics->lock);
    }
    for (ModelImport& entry : imports) {
        if (!entry.error.empty()) {
            AddFailure(detail, entry.path, entry.error);
            continue;
        }
        auto instance = MakeDrawable(content, entry.path, entry.model, entry.textures, physics,
                                     "model", detail);
        if (!instance) {
            continue;
        }
        ModelUiEntry row;
        row.name = ToUtf8(entry.model.name);
        row.englishName = ToUtf8(entry.model.nameEnglish);
        row.boneNames.reserve(entry.model.bones.size());
        for (const PmxBone& bone : entry.model.bones) {
            row.boneNames.push_back(ToUtf8(bone.name));
        }
        row.warnings = CappedWarnings(entry.textures.warnings, entry.textures.warnings.size());
        AddWarnings(warned, entry.path, row.warnings);
        content.models.push_back({std::move(instance), std::move(row)});
        ++loaded;
    }
}

// Accessories after the models: the same GPU half, no bodies.
void CompleteAccessories(SceneContent& content, std::vector<AccessoryImport>& imports,
                         unsigned& loaded, std::string& detail, std::string& warned) {
    for (AccessoryImport& entry : imports) {
        if (!entry.error.empty()) {
            AddFailure(detail, entry.path, entry.error);
            continue;
        }
        auto instance = MakeDrawable(content, entry.path, entry.model, entry.textures, nullptr,
                                     "accessory", detail);
        if (!instance) {
            continue;
        }
        AddWarnings(warned, entry.path,
                    CappedWarnings(entry.textures.warnings, entry.textures.warnings.size()));
        content.accessories.push_back(
            {std::move(instance), entry.path.filename().string(), AccessorySettings{}});
        ++loaded;
    }
}

}  // namespace

void CompleteImports(SceneContent& content, ImportWorker& worker) {
    if (!worker.ResultsReady()) {
        return;
    }
    ImportResults& batch = worker.PendingResults();
    unsigned loaded = 0;
    std::string detail;
    std::string warned;  // what loaded, but not wholly

    // The batch waits for no frame: frames in flight never use a new model's
    // GPU half, and the renderer leaves it out until its upload is done.
    CompleteModels(content, batch.models, loaded, detail, warned);
    CompleteAccessories(content, batch.accessories, loaded, detail, warned);
    for (MotionImport& entry : batch.motions) {
        if (!entry.error.empty()) {
            AddFailure(detail, entry.path, entry.error);
            continue;
        }
        AddWarnings(warned, entry.path, CappedWarnings(entry.warnings, entry.warningCount));
        std::string name = entry.motion.fileName.string();
        content.motions.push_back({std::move(entry.motion), std::move(name)});
        ++loaded;
    }
    for (SongImport& entry : batch.songs) {
        if (!entry.error.empty()) {
            AddFailure(detail, entry.path, entry.error);
            continue;
        }
        content.songs.push_back({std::move(entry.effect), entry.path.filename().string()});
        ++loaded;
    }
    for (ShaderImport& entry : batch.shaders) {
        if (!entry.error.empty()) {
            AddFailure(detail, entry.path, entry.error);
            continue;
        }
        content.shaders.push_back(
            {std::move(entry.program), {false, entry.path.filename().string()}});
        ++loaded;
    }

    char line[256];
    std::snprintf(line, sizeof line, "Loaded %u resource(s).", loaded);
    std::string status = line;
    if (!detail.empty()) {
        // Every queued file that did not load counts, unknown kinds included.
        const std::size_t queued = worker.QueueSize();
        std::snprintf(line, sizeof line, "\nFailed: %zu\n", queued > loaded ? queued - loaded : 0);
        status += line;
        status += "Error detail:\n";
        status += detail;
    }
    if (!warned.empty()) {
        status += status.back() == '\n' ? "Warnings:\n" : "\nWarnings:\n";
        status += warned;
    }
    worker.FinishBatch(std::move(status));
}

namespace {

template <typename Record>
std::vector<std::string> NamesOf(const std::vector<Record>& records) {
    std::vector<std::string> names;
    names.reserve(records.size());
    for (const Record& record : records) {
        names.push_back(record.name);
    }
    return names;
}

}  // namespace

std::vector<std::string> MotionNames(const SceneContent& content) {
    return NamesOf(content.motions);
}

std::vector<std::string> SongNames(const SceneContent& content) {
    return NamesOf(content.songs);
}

}  // namespace qv
