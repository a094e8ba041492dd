// Reads DirectX text meshes: a header, then nested blocks of frames, meshes and materials.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <new>

#include "formats/content_file.h"
#include "formats/x_model.h"
#include "formats/x_parser.h"

namespace qv {

namespace {

constexpr std::size_t kHeaderBytes = 16;

}  // namespace

bool XParser::Fail(const std::string& what) {
    if (error_.empty()) {
        error_ = what + " (line " + std::to_string(tokens_.Line()) + ")";
    }
    return false;
}

bool XParser::Expect(XTokenKind kind, const char* what) {
    const XToken token = tokens_.Next();
    if (token.kind == kind) {
        return true;
    }
    if (token.kind == XTokenKind::End) {
        return Fail(std::string("the file ends inside ") + what);
    }
    return Fail(std::string("unexpected text in ") + what);
}

bool XParser::ReadCount(std::uint32_t& count, const char* what) {
    if (!ReadIndex(count, what)) {
        return false;
    }
    // Every item takes at least two bytes ("0;"), so a larger count cannot be
    // honest; it is refused before anything is reserved for it.
    if (count > tokens_.remaining() / 2) {
        return Fail(std::string("the list of ") + what + " is shorter than its count");
    }
    return true;
}

bool XParser::ReadIndex(std::uint32_t& value, const char* what) {
    const XToken token = tokens_.Next();
    if (token.kind == XTokenKind::End || token.kind == XTokenKind::Close) {
        return Fail(std::string("the list of ") + what + " is shorter than its count");
    }
    const char* end = token.text.data() + token.text.size();
    const auto [stop, ec] = std::from_chars(token.text.data(), end, value);
    if (token.kind != XTokenKind::Word || ec != std::errc() || stop != end) {
        return Fail(std::string("a count or index in ") + what + " is not a whole number");
    }
    return true;
}

bool XParser::ReadFloat(float& value, const char* what) {
    const XToken token = tokens_.Next();
    if (token.kind == XTokenKind::End || token.kind == XTokenKind::Close) {
        return Fail(std::string("the list of ") + what + " is shorter than its count");
    }
    std::string_view text = token.text;
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    const char* end = text.data() + text.size();
    const auto [stop, ec] = std::from_chars(text.data(), end, value);
    if (token.kind != XTokenKind::Word || ec != std::errc() || stop != end ||
        !std::isfinite(value)) {
        return Fail(std::string("a value in ") + what + " is not a number");
    }
    return true;
}

bool XParser::ReadFloats(float* values, int n, const char* what) {
    for (int i = 0; i < n; ++i) {
        if (!ReadFloat(values[i], what)) {
            return false;
        }
    }
    return true;
}

// Skips a block whose opening brace was read, however deep, without recursion.
bool XParser::SkipBlock() {
    std::size_t open = 1;
    while (open > 0) {
        const XToken token = tokens_.Next();
        if (token.kind == XTokenKind::End || token.kind == XTokenKind::Unterminated) {
            return Fail("a block is not closed");
        }
        open += token.kind == XTokenKind::Open;
        open -= token.kind == XTokenKind::Close;
    }
    return true;
}

XParser::Next XParser::NextChild(std::string_view& type, const char* where) {
    const XToken token = tokens_.Next();
    if (token.kind == XTokenKind::Close) {
        return Next::Closed;
    }
    if (token.kind != XTokenKind::Word) {
        Fail(token.kind == XTokenKind::End ? "a block is not closed"
                                           : std::string("unexpected text in ") + where);
        return Next::Failed;
    }
    type = token.text;
    return Next::Child;
}

// Reads an optional name and the opening brace of a block.
bool XParser::OpenNamedBlock(std::u16string* name) {
    XToken token = tokens_.Next();
    if (token.kind == XTokenKind::Word) {
        if (name != nullptr) {
            *name = Decode(token.text);
        }
        token = tokens_.Next();
    }
    if (token.kind != XTokenKind::Open) {
        return Fail(token.kind == XTokenKind::End ? "the file ends before a block opens"
                                                  : "a block's name is not followed by '{'");
    }
    return true;
}

std::u16string XParser::Decode(std::string_view bytes) {
    return cp932_.Decode({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
}

Result XParser::Run() {
    for (;;) {
        const XToken token = tokens_.Next();
        if (token.kind == XTokenKind::End) {
            break;
        }
        if (token.kind != XTokenKind::Word) {
            Fail(token.kind == XTokenKind::Close ? "a '}' closes no block" : "unexpected text");
            break;
        }
        if (token.text == "template") {
            if (!OpenNamedBlock(nullptr) || !SkipBlock()) {
                break;
            }
        } else if (!ParseObject(token.text, -1, 1)) {
            break;
        }
    }
    if (!error_.empty()) {
        return Result::Failure(E_FAIL, error_);
    }
    return {};
}

bool XParser::ParseObject(std::string_view type, std::int32_t frame, int depth) {
    if (depth > kXMaxNesting) {
        return Fail("blocks are nested more than " + std::to_string(kXMaxNesting) + " deep");
    }
    if (type == "Frame") {
        return ParseFrame(frame, depth);
    }
    if (type == "Mesh") {
        return ParseMesh(frame, depth);
    }
    if (type == "Material") {
        // A material outside a mesh is named for the meshes' lists to refer to.
        XMaterial material;
        if (!OpenNamedBlock(&material.name) || !ParseMaterial(material, depth)) {
            return false;
        }
        std::u16string key = material.name;
        namedMaterials_[std::move(key)] = std::move(material);
        return true;
    }
    // Animation sets, skin weights, vertex colours and the like: not drawn.
    return OpenNamedBlock(nullptr) && SkipBlock();
}

bool XParser::ParseFrame(std::int32_t parent, int depth) {
    XFrame frame;
    frame.parent = parent;
    if (!OpenNamedBlock(&frame.name)) {
        return false;
    }
    const auto index = static_cast<std::int32_t>(model_.frames.size());
    model_.frames.push_back(std::move(frame));
    for (;;) {
        std::string_view type;
        if (const Next next = NextChild(type, "a frame"); next != Next::Child) {
            return next == Next::Closed;
        }
        if (type == "FrameTransformMatrix") {
            XMatrix m;
            if (!OpenNamedBlock(nullptr) || !ReadFloats(m.data(), 16, "a frame matrix") ||
                !Expect(XTokenKind::Close, "a frame matrix")) {
                return false;
            }
            model_.frames[static_cast<std::size_t>(index)].transform = m;
        } else if (!ParseObject(type, index, depth + 1)) {
            return false;
        }
    }
}

Result ParseXModel(XModel& model, std::span<const std::uint8_t> bytes) {
    model.frames.clear();
    model.meshes.clear();
    const std::string_view header(reinterpret_cast<const char*>(bytes.data()),
                                  std::min(bytes.size(), kHeaderBytes));
    if (header.size() < kHeaderBytes || header.substr(0, 4) != "xof ") {
        return Result::Failure(E_FAIL, "not a DirectX mesh file (no \"xof \" header)");
    }
    const std::string_view form = header.substr(8, 4);
    if (form == "bin ") {
        return Result::Failure(E_FAIL,
                               "the binary form of the mesh format is not read; "
                               "save the mesh as text");
    }
    if (form == "tzip" || form == "bzip") {
        return Result::Failure(E_FAIL,
                               "the compressed form of the mesh format is not read; "
                               "save the mesh as uncompressed text");
    }
    const std::string_view floats = header.substr(12, 4);
    const auto digits = [](std::string_view s) {
        return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (form != "txt " || !digits(header.substr(4, 4)) || (floats != "0032" && floats != "0064")) {
        return Result::Failure(E_FAIL, "the mesh file's header is not one of the text form");
    }
    model.versionMajor = (header[4] - '0') * 10 + (header[5] - '0');
    model.versionMinor = (header[6] - '0') * 10 + (header[7] - '0');
    model.floatBits = floats == "0032" ? 32 : 64;
    Result result;
    try {
        result = XParser(model, bytes.subspan(kHeaderBytes)).Run();
    } catch (const std::bad_alloc&) {
        result = Result::Failure(E_FAIL, "the mesh does not fit in memory");
    }
    if (!result.ok()) {
        model.frames.clear();
        model.meshes.clear();
    }
    return result;
}

Result LoadXModel(XModel& model, const std::filesystem::path& path) {
    Result parsed;
    const HRESULT hr = LoadContentFile(model, path, [&parsed](XModel& m, const auto& bytes) {
        parsed = ParseXModel(m, bytes);
        return parsed.code;
    });
    if (Failed(hr) && parsed.ok()) {
        return Result::Failure(hr, "the file cannot be read");
    }
    return parsed;
}

XMatrix FrameToModel(const XModel& model, std::int32_t frame) {
    XMatrix result = kXIdentity;
    // Parents come before children, so the walk up always ends.
    while (frame >= 0 && static_cast<std::size_t>(frame) < model.frames.size()) {
        const XMatrix& local = model.frames[static_cast<std::size_t>(frame)].transform;
        XMatrix product{};
        for (int r = 0; r < 4; ++r) {
            for (int c = 0; c < 4; ++c) {
                float sum = 0.0f;
                for (int k = 0; k < 4; ++k) {
                    sum += result[static_cast<std::size_t>(r * 4 + k)] *
                           local[static_cast<std::size_t>(k * 4 + c)];
                }
                product[static_cast<std::size_t>(r * 4 + c)] = sum;
            }
        }
        result = product;
        frame = model.frames[static_cast<std::size_t>(frame)].parent;
    }
    return result;
}

}  // namespace qv
