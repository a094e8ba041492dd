// Keeps untrusted record counts from exhausting memory or inventing records past the data.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "formats/byte_reader.h"
#include "platform/memory_advice.h"

namespace qv {

// Counts in content files are untrusted: a corrupt count of 2^32 - 1 must not
// exhaust memory or stall a load. A section therefore takes a record only while
// the bytes that remain could still hold the smallest record it can have, and
// never invents empty records past the end of the data.
inline bool HasRoomFor(const ByteReader& reader, std::uint32_t minRecordSize) {
    return minRecordSize != 0 && reader.remaining() >= minRecordSize;
}

// After a section loop: when it stopped short of its count for want of bytes,
// the file is cut inside this section and the sections after it are lost.
inline void EndSection(ByteReader& reader, std::uint32_t done, std::uint32_t count) {
    if (done < count) {
        reader.SkipToEnd();
    }
}

// How many records of at least minRecordSize bytes the remaining data could
// hold, at most count: the most a section can produce, to reserve up front.
inline std::uint32_t RecordCapacity(const ByteReader& reader, std::uint32_t count,
                                    std::uint32_t minRecordSize) {
    if (minRecordSize == 0) {
        return 0;
    }
    return std::min(count, reader.remaining() / minRecordSize);
}

// Appends a section of `count` face indices of type T, taken in one piece as
// they are most of a model's bytes; `none`, the format's "no vertex", becomes
// 0xFFFFFFFF.
template <typename T>
void ReadFaceIndices(ByteReader& reader, std::uint32_t count, T none,
                     std::vector<std::uint32_t>& indices) {
    const std::uint32_t n = RecordCapacity(reader, count, sizeof(T));
    std::span<const std::uint8_t> bytes = reader.Take(n * static_cast<std::uint32_t>(sizeof(T)));
    EndSection(reader, n, count);
    const std::size_t base = indices.size();
    indices.reserve(base + n);
    PreferHugePages(indices.data() + base, n * sizeof(std::uint32_t));
    PrefaultForWriting(indices.data() + base, n * sizeof(std::uint32_t));
    indices.resize(base + n);
    std::uint32_t* out = indices.data() + base;
    for (std::uint32_t i = 0; i < n; ++i) {
        T value;
        std::memcpy(&value, bytes.data() + i * sizeof(T), sizeof(T));
        out[i] = value == none ? 0xFFFFFFFFu : static_cast<std::uint32_t>(value);
    }
}

}  // namespace qv
