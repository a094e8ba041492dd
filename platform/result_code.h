// One result code type for every operation, so failures read alike everywhere.
#pragma once

#include <cstdint>
#include <string>

namespace qv {

// 32-bit result codes shared by every engine, file and rendering operation.
// The values are the well-known Windows ones, so messages and exit codes read
// the same to anyone who has seen them elsewhere.
using HRESULT = std::int32_t;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);

inline constexpr bool Succeeded(HRESULT hr) {
    return hr >= 0;
}
inline constexpr bool Failed(HRESULT hr) {
    return hr < 0;
}

// "0x80004005" style, as tools print it.
std::string FormatResult(HRESULT hr);

}  // namespace qv
