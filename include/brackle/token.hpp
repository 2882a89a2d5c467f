// Marks, spans, tokens, scalar styles and scan errors: the scanner's vocabulary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brackle_scanner {

// A position in the scanned text: characters from the start, line from 1,
// column from 0 (both counted in characters, not bytes). The byte offset is
// kept beside them so that consumers can cut the source text at a mark
// without mapping characters to bytes.
struct SourceMark {
    std::size_t index = 0;
    std::size_t line = 1;
    std::size_t col = 0;
    std::size_t byte = 0;

    friend bool operator==(const SourceMark&, const SourceMark&) = default;
};

// `end` is the position just after the last character covered.
struct Span {
    SourceMark start;
    SourceMark end;

    static Span empty_at(SourceMark m) { return Span{m, m}; }
    friend bool operator==(const Span&, const Span&) = default;
};

enum class ScalarStyle : std::uint8_t { Plain, SingleQuoted, DoubleQuoted, Literal, Folded };

const char* scalar_style_name(ScalarStyle style);

// The token kinds, in their fixed order (tags 0 to 22).
enum class TokenType : std::uint8_t {
    StreamStart,
    StreamEnd,
    VersionDirective,
    TagDirective,
    DocumentStart,
    DocumentEnd,
    BlockSequenceStart,
    BlockMappingStart,
    BlockEnd,
    FlowSequenceStart,
    FlowSequenceEnd,
    FlowMappingStart,
    FlowMappingEnd,
    BlockEntry,
    FlowEntry,
    Key,
    Value,
    Alias,
    Anchor,
    Tag,
    Scalar,
    Comment,
    ReservedDirective,
};

const char* token_type_name(TokenType type);

// A token: its kind, its span and the payload of its kind. Tokens are moved
// from the scanner to the parser once per token, so the payload is kept in
// as few members as possible; the accessors name what each kind carries.
struct Token {
    TokenType type = TokenType::StreamStart;
    ScalarStyle style = ScalarStyle::Plain;  // Scalar
    std::uint32_t major = 0;                 // VersionDirective
    std::uint32_t minor = 0;                 // VersionDirective
    std::size_t split = 0;  // Tag, TagDirective: bytes of `value` that hold the handle
    Span span;
    // Scalar: the value. Alias, Anchor: the name. Comment: the text, from the
    // `#`. ReservedDirective: the name. Tag: the handle, then the suffix.
    // TagDirective: the handle, then the prefix.
    std::string value;
    std::vector<std::string> params;  // ReservedDirective

    Token() = default;
    Token(TokenType t, Span s) : type(t), span(s) {}
    Token(const Token&) = default;
    Token(Token&&) noexcept = default;
    Token& operator=(const Token&) = default;
    // Moves happen once per delivered token; only directives carry
    // parameters, so the vector is left alone when neither side has any.
    Token& operator=(Token&& other) noexcept {
        type = other.type;
        style = other.style;
        major = other.major;
        minor = other.minor;
        split = other.split;
        span = other.span;
        value = std::move(other.value);
        if (!params.empty() || !other.params.empty()) params = std::move(other.params);
        return *this;
    }

    const std::string& name() const { return value; }
    const std::string& text() const { return value; }
    std::string_view handle() const { return std::string_view(value).substr(0, split); }
    std::string_view suffix() const { return std::string_view(value).substr(split); }
    std::string_view prefix() const { return suffix(); }
};

// The answer to one token request.
enum class Delivery : std::uint8_t {
    Token,  // a token was handed over
    End,    // StreamEnd was delivered earlier: nothing more
    Error,  // `error()` holds the first error; every later request repeats it
};

struct ScanError {
    std::string info;
    SourceMark mark;

    static ScanError new_str(SourceMark mark, std::string_view message) {
        return ScanError{std::string(message), mark};
    }
    friend bool operator==(const ScanError&, const ScanError&) = default;
};

}  // namespace brackle_scanner
