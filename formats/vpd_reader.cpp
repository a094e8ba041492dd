// Parses pose files line by line, keeping what is good and warning once per bad line.
#include <charconv>
#include <cmath>
#include <string>

#include "formats/content_file.h"
#include "formats/text_decode.h"
#include "formats/vmd_names.h"
#include "formats/vpd_pose.h"
#include "platform/code_page.h"

namespace qv {

namespace {

using Text = std::string_view;

// The structure of a pose file is all ASCII, so lines are split as bytes and
// only names and quotes are decoded. In code page 932 the bytes ',', ';', '/'
// and line ends never occur inside a double-byte character (trail bytes start
// at 0x40), but '{' and '}' do: a block opens at the first '{' after "BoneN"
// (the name follows it and runs to the end of the line), and only a line that
// is a lone '}' closes it, so a name's trail bytes are never taken for braces.
Text Trim(Text s) {
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f'; };
    while (!s.empty() && space(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && space(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

// The line without its "//" comment, trimmed.
Text Uncomment(Text line) {
    const std::size_t comment = line.find("//");
    return Trim(comment == Text::npos ? line : line.substr(0, comment));
}

// "x,y,z;": exactly out.size() finite numbers, the ';' optional.
bool ParseNumbers(Text text, std::span<float> out) {
    if (!text.empty() && text.back() == ';') {
        text = Trim(text.substr(0, text.size() - 1));
    }
    for (std::size_t i = 0; i < out.size(); ++i) {
        const std::size_t comma = i + 1 < out.size() ? text.find(',') : text.size();
        if (comma == Text::npos) {
            return false;
        }
        const Text token = Trim(text.substr(0, comma));
        const char* end = token.data() + token.size();
        const auto [stop, error] = std::from_chars(token.data(), end, out[i]);
        if (token.empty() || error != std::errc{} || stop != end || !std::isfinite(out[i])) {
            return false;
        }
        text = comma < text.size() ? text.substr(comma + 1) : Text{};
    }
    return true;
}

// "Bone12{name" or "Morph3{name": the kind and the raw name after '{'.
bool ParseHeader(Text line, Text& kind, Text& name) {
    for (const Text prefix : {Text("Bone"), Text("Morph")}) {
        if (line.substr(0, prefix.size()) != prefix) {
            continue;
        }
        std::size_t at = prefix.size();
        while (at < line.size() && line[at] >= '0' && line[at] <= '9') {
            ++at;
        }
        if (at == prefix.size() || at >= line.size() || line[at] != '{') {
            return false;
        }
        kind = prefix;
        name = Trim(line.substr(at + 1));
        return true;
    }
    return false;
}

class VpdParser {
public:
    VpdParser(VmdMotion& motion, VpdWarnings& warnings) : m_(motion), w_(warnings) {}

    HRESULT Parse(Text file) {
        std::size_t lineNumber = 0;
        while (!file.empty() || lineNumber == 0) {
            const std::size_t end = file.find('\n');
            const Text raw = file.substr(0, end);
            file = end == Text::npos ? Text{} : file.substr(end + 1);
            ++lineNumber;
            if (lineNumber == 1) {
                if (!IsSignatureLine(raw)) {
                    return E_FAIL;
                }
                m_.signature = decoder_.Decode(AsBytes(Trim(raw)));
                continue;
            }
            Line(Uncomment(raw), lineNumber);
        }
        if (block_.open) {
            Warn(block_.line, Describe() + " has no closing '}'");
            Close();
        }
        if (declaredLine_ != 0 && declared_ != bones_) {
            Warn(declaredLine_, "the pose says " + std::to_string(declared_) +
                                    " bone(s) but holds " + std::to_string(bones_));
        }
        return S_OK;
    }

private:
    struct Block {
        bool open = false;
        bool bone = false;
        std::size_t line = 0;  // of its header
        std::string name;      // raw bytes
        int numbers = 0;       // number lines seen
        float values[7] = {0, 0, 0, 0, 0, 0, 1};
    };

    static std::span<const std::uint8_t> AsBytes(Text s) {
        return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
    }

    static bool IsSignatureLine(Text line) {
        if (line.substr(0, 3) == "\xEF\xBB\xBF") {
            line.remove_prefix(3);
        }
        line = Trim(line);
        return line.size() >= kVpdSignature.size() &&
               line.substr(line.size() - kVpdSignature.size()) == kVpdSignature;
    }

    void Line(Text line, std::size_t number) {
        if (line.empty()) {
            return;
        }
        Text kind;
        Text name;
        if (ParseHeader(line, kind, name)) {
            if (block_.open) {
                Warn(block_.line, Describe() + " has no closing '}'");
                Close();
            }
            Open(kind == "Bone", name, number);
            return;
        }
        if (block_.open) {
            InBlock(line, number);
        } else if (!modelNamed_) {
            modelNamed_ = true;
            m_.modelName = decoder_.Decode(
                AsBytes(line.back() == ';' ? line.substr(0, line.size() - 1) : line));
        } else if (declaredLine_ == 0 && !counted_) {
            counted_ = true;
            Text digits = line.back() == ';' ? Trim(line.substr(0, line.size() - 1)) : line;
            std::uint32_t count = 0;
            const char* end = digits.data() + digits.size();
            const auto [stop, error] = std::from_chars(digits.data(), end, count);
            if (!digits.empty() && error == std::errc{} && stop == end) {
                declared_ = count;
                declaredLine_ = number;
            } else {
                Warn(number, "not a bone count: " + Quote(line));
            }
        } else {
            Warn(number, "not part of a bone or morph: " + Quote(line));
        }
    }

    void Open(bool bone, Text name, std::size_t number) {
        block_ = {};
        block_.open = true;
        block_.bone = bone;
        block_.line = number;
        block_.name = std::string(name);
        if (name.empty()) {
            Warn(number, Describe() + " has no name and is skipped");
        }
    }

    void InBlock(Text line, std::size_t number) {
        if (line == "}") {
            Close(number);
            return;
        }
        const int expected = block_.bone ? 2 : 1;
        if (block_.numbers >= expected) {
            Warn(number, "more lines than " + Describe() + " has: " + Quote(line));
            return;
        }
        // A bone's position (3 numbers), then its rotation (4); a morph's weight.
        const bool rotation = block_.bone && block_.numbers == 1;
        const std::span<float> out(block_.values + (rotation ? 3 : 0), !block_.bone ? 1u
                                                                       : rotation   ? 4u
                                                                                    : 3u);
        float parsed[4];
        if (ParseNumbers(line, {parsed, out.size()})) {
            std::copy(parsed, parsed + out.size(), out.begin());
        } else {
            const char* what = !block_.bone ? "weight"
                               : rotation   ? "rotation x,y,z,w"
                                            : "position x,y,z";
            Warn(number, "not a " + std::string(what) + " of " + Describe() + ": " + Quote(line));
        }
        ++block_.numbers;
    }

    void Close(std::size_t closingLine = 0) {
        const int expected = block_.bone ? 2 : 1;
        if (closingLine != 0 && !block_.name.empty() && block_.numbers < expected) {
            Warn(closingLine, Describe() + " ends before its " +
                                  (block_.bone && block_.numbers == 0 ? "position"
                                   : block_.bone                      ? "rotation"
                                                                      : "weight"));
        }
        block_.open = false;
        if (block_.name.empty()) {
            return;
        }
        // Cut to the width a motion file gives names, so both bind alike.
        Text name = block_.name;
        name = name.substr(0, kVmdKeyNameBytes);
        std::u16string key = codec_.KeyOf(AsBytes(name));
        if (block_.bone) {
            ++bones_;
            VmdBoneKey bone;
            bone.boneName = key;
            bone.position = {block_.values[0], block_.values[1], block_.values[2]};
            bone.rotation = {block_.values[3], block_.values[4], block_.values[5],
                             block_.values[6]};
            m_.boneKeys[std::move(key)].push_back(std::move(bone));
        } else {
            VmdMorphKey morph;
            morph.morphName = key;
            morph.weight = block_.values[0];
            m_.morphKeys[std::move(key)].push_back(std::move(morph));
        }
    }

    std::string Describe() {
        return std::string(block_.bone ? "bone " : "morph ") + "\"" + Quote(block_.name) + "\"";
    }

    // A line as a warning quotes it: decoded, and cut so that a megabyte of
    // one line does not become a megabyte of status text.
    std::string Quote(Text text) {
        constexpr std::size_t kQuoted = 40;
        std::string out = ToUtf8(decoder_.Decode(AsBytes(text.substr(0, kQuoted))));
        return text.size() > kQuoted ? out + "..." : out;
    }

    void Warn(std::size_t line, const std::string& what) {
        ++w_.count;
        if (w_.lines.size() < kVpdWarningsKept) {
            w_.lines.push_back("line " + std::to_string(line) + ": " + what);
        }
    }

    VmdMotion& m_;
    VpdWarnings& w_;
    Cp932Decoder decoder_;
    VmdNameCodec codec_;
    Block block_;
    bool modelNamed_ = false;
    bool counted_ = false;
    std::uint64_t declared_ = 0;
    std::size_t declaredLine_ = 0;
    std::uint64_t bones_ = 0;
};

}  // namespace

HRESULT ParseVpdPose(VmdMotion& motion, std::span<const std::uint8_t> bytes,
                     VpdWarnings& warnings) {
    const Text file(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return VpdParser(motion, warnings).Parse(file);
}

HRESULT LoadVpdPose(VmdMotion& motion, const std::filesystem::path& path, VpdWarnings& warnings) {
    return LoadContentFile(motion, path, [&](VmdMotion& m, std::span<const std::uint8_t> bytes) {
        return ParseVpdPose(m, bytes, warnings);
    });
}

}  // namespace qv
