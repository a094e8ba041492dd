// A read cursor that cannot run past the file, whatever its counts and lengths claim.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <type_traits>

namespace qv {

// Bounded little-endian read cursor over a whole file held in memory.
//
// Content files are read leniently: a read that does not fit in the bytes that
// remain yields zero and consumes nothing, and parsing goes on with the next
// field. Callers never see an exception or an out-of-bounds access, whatever
// the file says.
class ByteReader {
public:
    ByteReader() = default;
    explicit ByteReader(std::span<const std::uint8_t> bytes)
        : buffer_(bytes.data()),
          size_(bytes.size() > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(bytes.size())) {
    }

    std::uint32_t size() const { return size_; }
    std::uint32_t position() const { return position_; }
    std::uint32_t remaining() const { return size_ - position_; }
    bool CanRead(std::uint64_t n) const {
        return buffer_ != nullptr && size_ != 0 && n <= remaining();
    }

    // Copies n bytes into out and advances, or zero-fills out and stays put.
    bool Read(void* out, std::uint32_t n) {
        if (!CanRead(n)) {
            std::memset(out, 0, n);
            return false;
        }
        std::memcpy(out, buffer_ + position_, n);
        position_ += n;
        return true;
    }

    // The next n bytes as a view, advancing; an empty view when they do not fit.
    std::span<const std::uint8_t> Take(std::uint32_t n) {
        if (!CanRead(n)) {
            return {};
        }
        std::span<const std::uint8_t> view(buffer_ + position_, n);
        position_ += n;
        return view;
    }

    bool Skip(std::uint32_t n) {
        if (!CanRead(n)) {
            return false;
        }
        position_ += n;
        return true;
    }

    // Gives up on the rest of the data: every later read fails. Used once a
    // section finds the file cut short, so nothing after it is read from the
    // wrong place.
    void SkipToEnd() { position_ = size_; }

    template <typename T>
    T Read() {
        static_assert(std::is_trivially_copyable_v<T>);
        T value;
        Read(&value, sizeof(T));
        return value;
    }

    std::uint8_t ReadU8() { return Read<std::uint8_t>(); }
    std::uint16_t ReadU16() { return Read<std::uint16_t>(); }
    std::uint32_t ReadU32() { return Read<std::uint32_t>(); }
    std::int32_t ReadI32() { return Read<std::int32_t>(); }
    float ReadF32() { return Read<float>(); }

    // An index of the given width, widened so that the all-ones value of a
    // 1- or 2-byte index means "none" (-1) and every other value is unsigned.
    // Widths other than 1, 2 and 4 read nothing and give 0.
    std::int32_t ReadIndex(std::uint32_t width) {
        switch (width) {
            case 1: {
                std::uint8_t v = ReadU8();
                return v == 0xFF ? -1 : v;
            }
            case 2: {
                std::uint16_t v = ReadU16();
                return v == 0xFFFF ? -1 : v;
            }
            case 4:
                return ReadI32();
            default:
                return 0;
        }
    }

private:
    const std::uint8_t* buffer_ = nullptr;
    std::uint32_t size_ = 0;
    std::uint32_t position_ = 0;
};

}  // namespace qv
