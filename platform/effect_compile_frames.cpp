// Writes and checks the frames of the effect-compiler helper; nothing read is trusted.
#include "platform/effect_compile_frames.h"

#include <cstdint>

namespace qv {

namespace {

constexpr std::string_view kRequestSignature = "QVEQ";
constexpr std::string_view kAnswerSignature = "QVEA";

void AppendWord(std::string& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out += static_cast<char>(value >> shift & 0xFF);
    }
}

// Reads the frame front to back; any read past the end fails the whole frame.
class FrameCursor {
public:
    explicit FrameCursor(std::string_view bytes) : bytes_(bytes) {}

    bool Signature(std::string_view expected) {
        std::string_view seen;
        return Text(expected.size(), seen) && seen == expected;
    }

    bool Word(std::uint32_t& value) {
        std::string_view raw;
        if (!Text(4, raw)) {
            return false;
        }
        value = 0;
        for (int i = 3; i >= 0; --i) {
            value = value << 8 | static_cast<std::uint8_t>(raw[i]);
        }
        return true;
    }

    bool Text(std::size_t size, std::string_view& text) {
        if (size > bytes_.size() - at_) {
            return false;
        }
        text = bytes_.substr(at_, size);
        at_ += size;
        return true;
    }

    bool AtEnd() const { return at_ == bytes_.size(); }

private:
    std::string_view bytes_;
    std::size_t at_ = 0;
};

}  // namespace

std::string EncodeEffectRequest(const EffectCompileRequest& request) {
    std::string out(kRequestSignature);
    AppendWord(out, static_cast<std::uint32_t>(request.stage));
    for (const std::string* text :
         {&request.entryPoint, &request.name, &request.includeFolder, &request.source}) {
        AppendWord(out, static_cast<std::uint32_t>(text->size()));
    }
    out += request.entryPoint;
    out += request.name;
    out += request.includeFolder;
    out += request.source;
    return out;
}

bool DecodeEffectRequest(std::string_view bytes, EffectCompileRequest& request) {
    FrameCursor cursor(bytes);
    std::uint32_t stage = 0, sizes[4] = {};
    if (bytes.size() > kMaxEffectFrameBytes || !cursor.Signature(kRequestSignature) ||
        !cursor.Word(stage) || stage > static_cast<std::uint32_t>(HlslStage::Compute)) {
        return false;
    }
    for (std::uint32_t& size : sizes) {
        if (!cursor.Word(size)) {
            return false;
        }
    }
    std::string_view texts[4];
    for (int i = 0; i < 4; ++i) {
        if (!cursor.Text(sizes[i], texts[i])) {
            return false;
        }
    }
    if (!cursor.AtEnd()) {
        return false;
    }
    request.stage = static_cast<HlslStage>(stage);
    request.entryPoint = texts[0];
    request.name = texts[1];
    request.includeFolder = texts[2];
    request.source = texts[3];
    return true;
}

std::string EncodeEffectAnswer(const HlslCompileResult& result) {
    std::string out(kAnswerSignature);
    AppendWord(out, result.ok ? 1 : 0);
    AppendWord(out, static_cast<std::uint32_t>(result.messages.size()));
    AppendWord(out, static_cast<std::uint32_t>(result.spirv.size()));
    out += result.messages;
    for (std::uint32_t word : result.spirv) {
        AppendWord(out, word);
    }
    return out;
}

bool DecodeEffectAnswer(std::string_view bytes, HlslCompileResult& result) {
    FrameCursor cursor(bytes);
    std::uint32_t ok = 0, messageSize = 0, words = 0;
    if (bytes.size() > kMaxEffectFrameBytes || !cursor.Signature(kAnswerSignature) ||
        !cursor.Word(ok) || ok > 1 || !cursor.Word(messageSize) || !cursor.Word(words)) {
        return false;
    }
    std::string_view message;
    if (!cursor.Text(messageSize, message) || (ok == 1 && words == 0) ||
        words > (bytes.size() - sizeof(std::uint32_t) * 4 - messageSize) / 4) {
        return false;
    }
    HlslCompileResult decoded;
    decoded.ok = ok == 1;
    decoded.messages = message;
    decoded.spirv.resize(words);
    for (std::uint32_t& word : decoded.spirv) {
        cursor.Word(word);
    }
    if (!cursor.AtEnd()) {
        return false;
    }
    result = std::move(decoded);
    return true;
}

}  // namespace qv
