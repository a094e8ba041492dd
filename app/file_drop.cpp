// Files dropped on the window: gathered per drop and imported as one batch, as if picked in the
// file browser.
#include "app/file_drop.h"

#include <SDL.h>

#include <fstream>
#include <system_error>

#include "scene/import_kind.h"
#include "scene/import_worker.h"

namespace qv {

namespace {

constexpr std::size_t kRefusalLines = 10;

std::string RefusalReason(const std::filesystem::path& path) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        return "a folder; drop the files inside it";
    }
    return "not a " + ImportEndingsText() + " file";
}

}  // namespace

std::string DescribeRefusals(const std::vector<std::filesystem::path>& refused,
                             std::size_t maxLines) {
    std::string text;
    for (std::size_t i = 0; i < refused.size() && i < maxLines; ++i) {
        text += "Not imported: " + refused[i].string() + " (" + RefusalReason(refused[i]) + ")\n";
    }
    if (refused.size() > maxLines) {
        text += "... and " + std::to_string(refused.size() - maxLines) + " more not imported\n";
    }
    if (!text.empty()) {
        text.pop_back();
    }
    return text;
}

void PostDropList(const std::filesystem::path& list, std::uint32_t windowId) {
    std::filesystem::path taken = list;
    taken += ".taken";
    std::error_code ec;
    std::filesystem::rename(list, taken, ec);
    if (ec) {
        return;
    }
    std::vector<std::string> paths;
    {
        std::ifstream in(taken);
        for (std::string line; std::getline(in, line);) {
            if (!line.empty()) {
                paths.push_back(line);
            }
        }
    }
    std::filesystem::remove(taken, ec);
    SDL_Event event{};
    event.drop.windowID = windowId;
    event.type = SDL_DROPBEGIN;
    SDL_PushEvent(&event);
    for (const std::string& path : paths) {
        event.type = SDL_DROPFILE;
        event.drop.file = SDL_strdup(path.c_str());  // freed by whoever pumps the events
        if (SDL_PushEvent(&event) != 1) {
            SDL_free(event.drop.file);
        }
    }
    event.type = SDL_DROPCOMPLETE;
    event.drop.file = nullptr;
    SDL_PushEvent(&event);
}

void FileDrop::Begin() {
    current_.clear();
    inDrop_ = true;
}

void FileDrop::Add(std::filesystem::path path) {
    current_.push_back(std::move(path));
    // A drop without a begin (an older window system) is a drop of one.
    if (!inDrop_) {
        Complete();
    }
}

void FileDrop::Complete() {
    inDrop_ = false;
    if (current_.empty()) {
        return;
    }
    Batch batch;
    std::vector<std::filesystem::path> refused;
    for (std::filesystem::path& path : current_) {
        std::error_code ec;
        const bool folder = std::filesystem::is_directory(path, ec);
        if (!folder && ImportKindOf(path) != ImportKind::None) {
            batch.files.push_back(std::move(path));
        } else {
            refused.push_back(std::move(path));
        }
    }
    current_.clear();
    batch.refusals = DescribeRefusals(refused, kRefusalLines);
    waiting_.push_back(std::move(batch));
}

void FileDrop::HandOver(ImportWorker& importer) {
    while (!waiting_.empty() && !importer.Busy()) {
        Batch& batch = waiting_.front();
        if (batch.files.empty()) {
            importer.ShowMessage(batch.refusals);
        } else if (!importer.Request(batch.files, batch.refusals)) {
            return;  // taken by another import first: try again next frame
        }
        waiting_.pop_front();
        return;  // one batch a frame: the next waits for this one to finish
    }
}

}  // namespace qv
