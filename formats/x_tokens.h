// The words of a DirectX text mesh: braces, names, numbers and quoted strings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace qv {

enum class XTokenKind { End, Open, Close, Word, String, Unterminated };

struct XToken {
    XTokenKind kind = XTokenKind::End;
    std::string_view text;  // a word's bytes, or a string's without its quotes
};

// Splits the text after the header into tokens. Commas and semicolons only
// separate list items, so they are read as white space; comments ("//" or "#"
// to the end of the line) and template ids ("<...>") are skipped. The text
// must outlive the tokens.
class XTokens {
public:
    explicit XTokens(std::span<const std::uint8_t> text)
        : text_(reinterpret_cast<const char*>(text.data()), text.size()) {}

    XToken Next();
    XToken Peek();
    std::size_t remaining() const { return text_.size() - pos_; }
    // 1-based line of the next token, for messages.
    std::size_t Line() const;

private:
    void SkipSpace();

    std::string_view text_;
    std::size_t pos_ = 0;
};

}  // namespace qv
