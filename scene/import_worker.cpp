// The import thread's loop: wait for a batch, read it all, hand it over, wait again.
#include "scene/import_worker.h"

#include <chrono>
#include <cstdio>

namespace qv {

ImportWorker::ImportWorker(AudioEngine* audio) : audio_(audio) {
    importThread_ = std::thread([this] { Run(); });
}

ImportWorker::~ImportWorker() {
    stopping_.store(true);
    importEvent_.Set();
    importThread_.join();
}

bool ImportWorker::Request(std::vector<std::filesystem::path> files, std::string note) {
    {
        std::lock_guard lock(mutex_);
        if (!importQueue_.empty() || files.empty()) {
            return false;
        }
        importQueue_ = std::move(files);
        batchNote_ = std::move(note);
    }
    importEvent_.Set();
    return true;
}

bool ImportWorker::Busy() const {
    std::lock_guard lock(mutex_);
    return !importQueue_.empty();
}

std::size_t ImportWorker::QueueSize() const {
    std::lock_guard lock(mutex_);
    return importQueue_.size();
}

std::string ImportWorker::Status() const {
    std::lock_guard lock(mutex_);
    return importStatus_;
}

bool ImportWorker::ShowMessage(std::string text) {
    {
        std::lock_guard lock(mutex_);
        if (!importQueue_.empty()) {
            return false;
        }
        importStatus_ = std::move(text);
    }
    showImportStatus.store(true);
    return true;
}

void ImportWorker::ClearStatus() {
    std::lock_guard lock(mutex_);
    if (importQueue_.empty()) {
        importStatus_.clear();
    }
}

void ImportWorker::SetStatus(std::string text) {
    std::lock_guard lock(mutex_);
    importStatus_ = std::move(text);
}

void ImportWorker::FinishBatch(std::string status) {
    pendingImports_ = {};
    importProgress_.store(0.0f);
    // Cleared before the queue empties: once it is empty the next batch may
    // start, and its hand-over must not be wiped out by this one's end.
    importResultsReady_.store(false, std::memory_order_release);
    std::lock_guard lock(mutex_);
    importStatus_ = std::move(status);
    if (!batchNote_.empty()) {
        importStatus_ += "\n" + batchNote_;
        batchNote_.clear();
    }
    importQueue_.clear();
}

void ImportWorker::Run() {
    for (;;) {
        importEvent_.Wait();
        if (stopping_.load()) {
            return;
        }
        std::vector<std::filesystem::path> batch;
        {
            std::lock_guard lock(mutex_);
            batch = importQueue_;
        }
        const auto start = std::chrono::steady_clock::now();
        ImportResults results;
        const std::size_t n = batch.size();
        for (std::size_t i = 0; i < n && !stopping_.load(); ++i) {
            showImportStatus.store(true);
            importProgress_.store(static_cast<float>(i + 1) / static_cast<float>(n));
            char text[256];
            std::snprintf(text, sizeof text, "Importing resource(s). Please wait...(%u/%zu)",
                          static_cast<unsigned>(i + 1), n);
            SetStatus(text);
            ImportFile(batch[i], audio_.load(), results, decodeTextures_.load());
        }
        pendingImports_ = std::move(results);
        lastBatchSeconds_.store(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
            std::memory_order_relaxed);
        // Release: the main thread reads pendingImports_ only after seeing this.
        importResultsReady_.store(true, std::memory_order_release);
    }
}

}  // namespace qv
