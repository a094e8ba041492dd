// Files dropped on the window: gathered per drop and imported as one batch, as if picked in the
// file browser.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <string>
#include <vector>

namespace qv {

class ImportWorker;

// Main thread only. A drop (from SDL's drop-begin to drop-complete) becomes
// one batch. Folders and files of kinds the player does not import are
// refused with a line each; the rest waits until the importer is free, so a
// drop during an import is not lost.
class FileDrop {
public:
    void Begin();
    void Add(std::filesystem::path path);
    // Ends the drop: sorts what it held into a waiting batch and refusals.
    void Complete();

    // Hands the oldest waiting batch to the importer when it is free, with the
    // refusals of its drop as a note under the import summary; a drop that
    // held nothing to import shows its refusals in the import status at once.
    void HandOver(ImportWorker& importer);

    std::size_t WaitingBatches() const { return waiting_.size(); }

private:
    struct Batch {
        std::vector<std::filesystem::path> files;
        std::string refusals;
    };
    std::vector<std::filesystem::path> current_;
    bool inDrop_ = false;
    std::deque<Batch> waiting_;
};

// The lines that say why dropped paths are not imported, at most `maxLines`
// of them and then a count of the rest; empty when every path is importable.
std::string DescribeRefusals(const std::vector<std::filesystem::path>& refused,
                             std::size_t maxLines);

// For tests that drive the real window: the paths listed in the file `list`,
// one a line, are dropped on window `windowId` through SDL's event queue, as
// the window system would drop them. The list is renamed away before it is
// read, so a writer that moves a finished list into place is never half read.
// Nothing happens while there is no list.
void PostDropList(const std::filesystem::path& list, std::uint32_t windowId);

}  // namespace qv
