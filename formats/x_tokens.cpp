// Splits DirectX text meshes into tokens; separators and comments never reach the parser.
#include "formats/x_tokens.h"

#include <algorithm>

namespace qv {

namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ',' || c == ';' || c == '\f' ||
           c == '\v' || c == '\0';
}

// Names are code page 932, whose second bytes include '{' and '}' ("\x83\x7B"
// is one katakana): a lead byte carries the next byte into the word with it.
bool IsLeadByte(char c) {
    const auto b = static_cast<unsigned char>(c);
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// A lone '/' belongs to a word (a path); only "//" opens a comment.
bool EndsWord(std::string_view text, std::size_t pos) {
    const char c = text[pos];
    return IsSpace(c) || c == '{' || c == '}' || c == '"' || c == '<' || c == '#' ||
           (c == '/' && pos + 1 < text.size() && text[pos + 1] == '/');
}

}  // namespace

void XTokens::SkipSpace() {
    while (pos_ < text_.size()) {
        const char c = text_[pos_];
        if (IsSpace(c)) {
            ++pos_;
        } else if (c == '#' || (c == '/' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '/')) {
            const std::size_t eol = text_.find('\n', pos_);
            pos_ = eol == std::string_view::npos ? text_.size() : eol + 1;
        } else if (c == '<') {
            const std::size_t close = text_.find('>', pos_);
            pos_ = close == std::string_view::npos ? text_.size() : close + 1;
        } else {
            return;
        }
    }
}

XToken XTokens::Next() {
    SkipSpace();
    if (pos_ >= text_.size()) {
        return {};
    }
    const char c = text_[pos_];
    if (c == '{' || c == '}') {
        ++pos_;
        return {c == '{' ? XTokenKind::Open : XTokenKind::Close, text_.substr(pos_ - 1, 1)};
    }
    if (c == '"') {
        const std::size_t close = text_.find('"', pos_ + 1);
        if (close == std::string_view::npos) {
            pos_ = text_.size();
            return {XTokenKind::Unterminated, {}};
        }
        const std::string_view inside = text_.substr(pos_ + 1, close - pos_ - 1);
        pos_ = close + 1;
        return {XTokenKind::String, inside};
    }
    const std::size_t start = pos_;
    do {
        pos_ += IsLeadByte(text_[pos_]) && pos_ + 1 < text_.size() ? 2 : 1;
    } while (pos_ < text_.size() && !EndsWord(text_, pos_));
    return {XTokenKind::Word, text_.substr(start, pos_ - start)};
}

XToken XTokens::Peek() {
    const std::size_t saved = pos_;
    const XToken token = Next();
    pos_ = saved;
    return token;
}

std::size_t XTokens::Line() const {
    return 1 + static_cast<std::size_t>(std::count(text_.begin(), text_.begin() + pos_, '\n'));
}

}  // namespace qv
