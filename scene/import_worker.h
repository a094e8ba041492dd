// Imports batches of files on a background thread, so frames never wait for a load.
#pragma once

#include <atomic>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/auto_reset_event.h"
#include "scene/import_results.h"

namespace qv {

class AudioEngine;

// The background half of importing: a long-lived thread that reads and parses
// a batch of files one after another while frames go on, then hands the whole
// batch over at once. The scene's main-thread half (CompleteImports) takes it
// from there. One batch runs at a time.
class ImportWorker {
public:
    explicit ImportWorker(AudioEngine* audio = nullptr);
    // Stops the thread after the file it is reading and joins it.
    ~ImportWorker();
    ImportWorker(const ImportWorker&) = delete;
    ImportWorker& operator=(const ImportWorker&) = delete;

    // Interface side: queues a batch and wakes the thread. False (and nothing
    // queued) while the previous batch has not been completed. A `note` is
    // shown under the batch's summary (what a drop left out, say).
    bool Request(std::vector<std::filesystem::path> files, std::string note = {});
    // Shows a text in the import status window while no batch runs; false
    // (and nothing shown) during a batch, whose status it would hide.
    bool ShowMessage(std::string text);
    bool Busy() const;

    // Read every frame by the status window, from any thread.
    std::string Status() const;
    // Empties the status text before a new import is chosen; the text of a
    // running batch stays.
    void ClearStatus();
    float Progress() const { return importProgress_.load(std::memory_order_relaxed); }
    // Wall time the thread spent on its last batch (reading, parsing, decoding).
    double LastBatchSeconds() const { return lastBatchSeconds_.load(std::memory_order_relaxed); }
    // Set when a batch starts; the interface opens its status window and clears it.
    std::atomic<bool> showImportStatus{false};

    // Main thread: a complete batch is waiting (acquire: its results are visible).
    bool ResultsReady() const { return importResultsReady_.load(std::memory_order_acquire); }
    ImportResults& PendingResults() { return pendingImports_; }
    std::size_t QueueSize() const;
    // Ends the batch: shows the summary, resets progress, frees the results and
    // empties the queue so the interface may start another.
    void FinishBatch(std::string status);

    void SetAudioEngine(AudioEngine* audio) { audio_.store(audio); }
    // Set once a renderer is attached: models' textures are then decoded here,
    // off the main thread, and handed over with the model.
    void SetDecodeTextures(bool decode) { decodeTextures_.store(decode); }

private:
    void Run();
    void SetStatus(std::string text);

    std::atomic<AudioEngine*> audio_;
    std::atomic<bool> decodeTextures_{false};
    mutable std::mutex mutex_;  // guards importQueue_, importStatus_ and batchNote_
    std::vector<std::filesystem::path> importQueue_;
    std::string importStatus_;
    std::string batchNote_;
    std::atomic<float> importProgress_{0.0f};
    std::atomic<double> lastBatchSeconds_{0.0};
    ImportResults pendingImports_;
    std::atomic<bool> importResultsReady_{false};
    std::atomic<bool> stopping_{false};
    AutoResetEvent importEvent_;
    std::thread importThread_;
};

}  // namespace qv
