// Helpers for the scanner tests: scan a whole text, render tokens compactly
// so that an expectation reads as one line, and compare marks as text.
//
// Rendering: each token is its kind name; payloads in parentheses:
//   Scalar(a)  Scalar('a')  Scalar("a")  Literal(a\n)  Folded(a\n)
//   Comment(# c)  Anchor(a)  Alias(a)  Tag(handle,suffix)
//   VersionDirective(1.2)  TagDirective(handle,prefix)  ReservedDirective(NAME p1 p2)
// Control characters in payloads are written \n \t \r \0 or \xHH; a scan that
// fails ends with Error(message). Marks are written index:line:col, spans
// start-end, as brackle-dump writes them.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scanner/src/scanner.hpp"

namespace brackle_test {

using brackle_scanner::Delivery;
using brackle_scanner::ScalarStyle;
using brackle_scanner::ScanError;
using brackle_scanner::Scanner;
using brackle_scanner::SourceMark;
using brackle_scanner::Span;
using brackle_scanner::Token;
using brackle_scanner::TokenType;

using namespace std::string_view_literals;

struct ScanResult {
    std::vector<Token> tokens;
    std::optional<ScanError> error;
    bool ended = false;      // the request after StreamEnd answered End
    bool hit_limit = false;  // `limit` tokens arrived without an end
};

inline ScanResult scan(std::string_view text, std::size_t limit = 4'000'000) {
    ScanResult out;
    Scanner scanner(text);
    for (std::size_t i = 0; i < limit; ++i) {
        Token token;
        switch (scanner.next_token(token)) {
            case Delivery::Token: out.tokens.push_back(std::move(token)); break;
            case Delivery::End: out.ended = true; return out;
            case Delivery::Error: out.error = scanner.error(); return out;
        }
    }
    out.hit_limit = true;
    return out;
}

inline std::string escape(std::string_view s) {
    std::string out;
    for (char c : s) {
        auto b = static_cast<unsigned char>(c);
        if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\0')
            out += "\\0";
        else if (b < 0x20 || b == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", b);
            out += buf;
        } else {
            out += c;
        }
    }
    return out;
}

inline std::string mark_str(const SourceMark& m) {
    return std::to_string(m.index) + ":" + std::to_string(m.line) + ":" + std::to_string(m.col);
}

inline std::string span_str(const Span& s) { return mark_str(s.start) + "-" + mark_str(s.end); }

inline std::string render(const Token& t) {
    std::string name = brackle_scanner::token_type_name(t.type);
    switch (t.type) {
        case TokenType::Scalar:
            switch (t.style) {
                case ScalarStyle::Plain: return "Scalar(" + escape(t.value) + ")";
                case ScalarStyle::SingleQuoted: return "Scalar('" + escape(t.value) + "')";
                case ScalarStyle::DoubleQuoted: return "Scalar(\"" + escape(t.value) + "\")";
                case ScalarStyle::Literal: return "Literal(" + escape(t.value) + ")";
                case ScalarStyle::Folded: return "Folded(" + escape(t.value) + ")";
            }
            return "Scalar(?)";
        case TokenType::Comment:
        case TokenType::Anchor:
        case TokenType::Alias: return name + "(" + escape(t.value) + ")";
        case TokenType::Tag:
        case TokenType::TagDirective:
            return name + "(" + escape(t.handle()) + "," + escape(t.suffix()) + ")";
        case TokenType::VersionDirective:
            return name + "(" + std::to_string(t.major) + "." + std::to_string(t.minor) + ")";
        case TokenType::ReservedDirective: {
            std::string s = name + "(" + escape(t.value);
            for (const auto& p : t.params) s += " " + escape(p);
            return s + ")";
        }
        default: return name;
    }
}

inline std::string render(const ScanResult& r) {
    std::string out;
    for (const auto& t : r.tokens) {
        if (!out.empty()) out += ' ';
        out += render(t);
    }
    if (r.error) out += (out.empty() ? "" : " ") + ("Error(" + r.error->info + ")");
    if (r.hit_limit) out += " <no end>";
    return out;
}

// The whole token stream of `text`, rendered.
inline std::string tokens(std::string_view text) { return render(scan(text)); }

// Only the Scalar tokens of `text` (and a final error), rendered.
inline std::string scalars(std::string_view text) {
    ScanResult r = scan(text);
    std::string out;
    for (const auto& t : r.tokens) {
        if (t.type != TokenType::Scalar) continue;
        if (!out.empty()) out += ' ';
        out += render(t);
    }
    if (r.error) out += (out.empty() ? "" : " ") + ("Error(" + r.error->info + ")");
    return out;
}

// The span of the `nth` token of `text` that renders as `rendered`.
inline std::string span_of(std::string_view text, std::string_view rendered, int nth = 0) {
    ScanResult r = scan(text);
    for (const auto& t : r.tokens)
        if (render(t) == rendered && nth-- == 0) return span_str(t.span);
    return "<no " + std::string(rendered) + " in: " + render(r) + ">";
}

// The error of scanning `text`, as "message @ index:line:col".
inline std::string error_of(std::string_view text) {
    ScanResult r = scan(text);
    if (!r.error) return "<no error: " + render(r) + ">";
    return r.error->info + " @ " + mark_str(r.error->mark);
}

// A table row: an input and what a helper above makes of it.
struct Case {
    std::string_view input;
    std::string_view expected;
};

// A row of an error table: the exact message and the mark it is reported at.
struct ErrorCase {
    std::string_view input;
    std::string_view message;
    std::string_view mark;  // index:line:col
};

inline void expect_errors(const std::vector<ErrorCase>& cases) {
    for (const auto& c : cases) {
        SCOPED_TRACE("input: " + escape(c.input));
        EXPECT_EQ(error_of(c.input), std::string(c.message) + " @ " + std::string(c.mark));
    }
}

// Byte offset of every character index of `text` (one more for the end), with
// the scanner's decoding: the lead byte gives the length, clamped at the end.
inline std::vector<std::size_t> char_offsets(std::string_view text) {
    std::vector<std::size_t> offsets;
    std::size_t pos = 0;
    while (pos < text.size()) {
        offsets.push_back(pos);
        auto b = static_cast<unsigned char>(text[pos]);
        std::size_t w = b < 0xC0 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        pos = std::min(pos + w, text.size());
    }
    offsets.push_back(text.size());
    return offsets;
}

}  // namespace brackle_test
