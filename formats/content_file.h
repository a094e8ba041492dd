// One load sequence for every content record, so a failed load still says which file.
#pragma once

#include <filesystem>
#include <vector>

#include "platform/file_read.h"
#include "platform/path_parts.h"
#include "platform/result_code.h"

namespace qv {

// The load sequence every content record shares: the path fields first (a
// failed load may already show them), then the whole file in one read, then
// the parse from memory.
template <typename Record, typename Parse>
HRESULT LoadContentFile(Record& record, const std::filesystem::path& path, Parse parse) {
    if (path.empty()) {
        return E_INVALIDARG;
    }
    record.filePath = path;
    record.fileName = FileNameOf(path);
    record.folder = FolderOf(path);
    std::vector<std::uint8_t> bytes;
    if (HRESULT hr = ReadWholeFile(path, bytes); Failed(hr)) {
        return hr;
    }
    return parse(record, bytes);
}

}  // namespace qv
