// Keeps untrusted record counts from exhausting memory or inventing records past the data.
#pragma once

#include <algorithm>
#include <cstdint>

#include "formats/byte_reader.h"

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

}  // namespace qv
