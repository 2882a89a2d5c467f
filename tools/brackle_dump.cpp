// brackle-dump: prints what the pipeline makes of a YAML file, one line per
// item, for tests, debugging and benchmarks.
//
//   brackle-dump tokens FILE      the scanner's tokens with their spans
//   brackle-dump events FILE      the parser's events, in the YAML test suite's
//                                 test.event format, comments as `=COM "text"`
//   brackle-dump roundtrip FILE [--explicit-start] [--explicit-end] [--flow]
//        [--preserve-quotes] [--width N] [--map-indent N] [--seq-indent N]
//        [--seq-offset N] [--line-break lf|crlf|cr]
//                                 the core's load and emit; the stream's bytes
//                                 go to standard output
//
// FILE may be `-` for standard input. Exit status: 0 on success, 1 when the
// input has a scan or parse error, 2 on a usage or I/O error.
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "brackle/emit.hpp"
#include "brackle/load.hpp"
#include "brackle/read.hpp"
#include "brackle/token.hpp"

namespace {

using brackle_scanner::Delivery;
using brackle_scanner::Event;
using brackle_scanner::EventReader;
using brackle_scanner::EventType;
using brackle_scanner::ScalarStyle;
using brackle_scanner::ScanError;
using brackle_scanner::SourceMark;
using brackle_scanner::Token;
using brackle_scanner::TokenReader;
using brackle_scanner::TokenType;

constexpr const char* program = "brackle-dump";

// Collects output in memory and hands it to the stream in large writes:
// dumps of big inputs run to millions of short lines.
class Writer {
public:
    explicit Writer(std::FILE* stream) : stream_(stream) { buf_.reserve(2 * flush_at); }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;
    ~Writer() { flush(); }

    void put(char c) { buf_ += c; }
    void put(std::string_view s) {
        buf_.append(s);
        if (buf_.size() >= flush_at) flush();
    }

    void put_uint(std::size_t n) {
        char digits[24];
        auto result = std::to_chars(digits, digits + sizeof digits, n);
        buf_.append(digits, result.ptr);
    }

    void put_mark(const SourceMark& m) {
        put_uint(m.index);
        put(':');
        put_uint(m.line);
        put(':');
        put_uint(m.col);
    }

    // A JSON string literal. Bytes from 0x20 up pass through unchanged
    // (UTF-8 stays UTF-8); only quote, backslash and control characters
    // are escaped.
    void put_json(std::string_view s) {
        static constexpr char hex[] = "0123456789abcdef";
        buf_ += '"';
        std::size_t run = 0;
        for (std::size_t i = 0; i < s.size(); ++i) {
            unsigned char c = static_cast<unsigned char>(s[i]);
            if (c >= 0x20 && c != '"' && c != '\\') continue;
            buf_.append(s.data() + run, i - run);
            run = i + 1;
            switch (c) {
                case '"': buf_ += "\\\""; break;
                case '\\': buf_ += "\\\\"; break;
                case '\n': buf_ += "\\n"; break;
                case '\t': buf_ += "\\t"; break;
                case '\r': buf_ += "\\r"; break;
                case '\b': buf_ += "\\b"; break;
                case '\f': buf_ += "\\f"; break;
                default:
                    buf_ += "\\u00";
                    buf_ += hex[c >> 4];
                    buf_ += hex[c & 0xF];
            }
        }
        buf_.append(s.data() + run, s.size() - run);
        buf_ += '"';
        if (buf_.size() >= flush_at) flush();
    }

    // A value as the YAML test suite writes it in test.event: backslash, line
    // feed, tab, backspace and carriage return escaped, everything else as is.
    void put_event_text(std::string_view s) {
        for (char c : s) {
            switch (c) {
                case '\\': buf_ += "\\\\"; break;
                case '\n': buf_ += "\\n"; break;
                case '\t': buf_ += "\\t"; break;
                case '\b': buf_ += "\\b"; break;
                case '\r': buf_ += "\\r"; break;
                default: buf_ += c;
            }
        }
        if (buf_.size() >= flush_at) flush();
    }

    void flush() {
        if (!buf_.empty()) std::fwrite(buf_.data(), 1, buf_.size(), stream_);
        buf_.clear();
        std::fflush(stream_);
    }

private:
    static constexpr std::size_t flush_at = std::size_t{1} << 16;
    std::FILE* stream_;
    std::string buf_;
};

int fail_usage(std::string_view message) {
    std::fprintf(stderr, "%s: %.*s\n", program, int(message.size()), message.data());
    return 2;
}

// Reads all of `path` (`-`: standard input) into `out`.
bool read_input(const char* path, std::string& out) {
    bool use_stdin = std::strcmp(path, "-") == 0;
    std::FILE* f = use_stdin ? stdin : std::fopen(path, "rb");
    if (f == nullptr) {
        std::fprintf(stderr, "%s: cannot open %s: %s\n", program, path, std::strerror(errno));
        return false;
    }
    char chunk[1 << 16];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) out.append(chunk, n);
    bool ok = !std::ferror(f);
    if (!ok) std::fprintf(stderr, "%s: cannot read %s\n", program, path);
    if (!use_stdin) std::fclose(f);
    // The scanner takes UTF-8 text; other bytes are refused here.
    if (ok && !brackle_scanner::is_utf8(out)) {
        std::fprintf(stderr, "%s: %s is not valid UTF-8\n", program, path);
        ok = false;
    }
    return ok;
}

// The scanner never strips a byte-order mark, so the tool does.
std::string_view without_bom(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    return text;
}

// `Kind START-END payload`, the payload depending on the kind.
void write_token(Writer& out, const Token& tok) {
    out.put(brackle_scanner::token_type_name(tok.type));
    out.put(' ');
    out.put_mark(tok.span.start);
    out.put('-');
    out.put_mark(tok.span.end);
    switch (tok.type) {
        case TokenType::Scalar:
            out.put(' ');
            out.put(brackle_scanner::scalar_style_name(tok.style));
            out.put(' ');
            out.put_json(tok.value);
            break;
        case TokenType::VersionDirective:
            out.put(' ');
            out.put_uint(tok.major);
            out.put('.');
            out.put_uint(tok.minor);
            break;
        case TokenType::TagDirective:
            out.put(' ');
            out.put_json(tok.handle());
            out.put(' ');
            out.put_json(tok.prefix());
            break;
        case TokenType::ReservedDirective:
            out.put(' ');
            out.put_json(tok.name());
            for (const std::string& param : tok.params) {
                out.put(' ');
                out.put_json(param);
            }
            break;
        case TokenType::Anchor:
        case TokenType::Alias:
            out.put(' ');
            out.put_json(tok.name());
            break;
        case TokenType::Tag:
            out.put(' ');
            out.put_json(tok.handle());
            out.put(' ');
            out.put_json(tok.suffix());
            break;
        case TokenType::Comment:
            out.put(' ');
            out.put_json(tok.text());
            break;
        default: break;
    }
    out.put('\n');
}

void write_error(Writer& out, const ScanError& error) {
    out.put("error ");
    out.put_mark(error.mark);
    out.put(' ');
    out.put_json(error.info);
    out.put('\n');
}

int run_tokens(std::string_view, std::span<char* const> args) {
    if (args.size() != 1) return fail_usage("usage: brackle-dump tokens FILE");
    std::string text;
    if (!read_input(args[0], text)) return 2;

    TokenReader reader(without_bom(text));
    Writer out(stdout);
    Token tok;
    for (;;) {
        switch (reader.next(tok)) {
            case Delivery::Token: write_token(out, tok); break;
            case Delivery::End: return 0;
            case Delivery::Error: write_error(out, reader.error()); return 1;
        }
    }
}

// A document end was written as `...` when its span holds exactly that: the
// event carries no flag, and an implicit end spans the token that follows.
bool ends_with_marker(const Event& ev, std::string_view text) {
    const std::size_t start = ev.span.start.byte;
    const std::size_t end = ev.span.end.byte;
    return end > start && text.substr(start, end - start) == "...";
}

char style_indicator(ScalarStyle style) {
    switch (style) {
        case ScalarStyle::Plain: return ':';
        case ScalarStyle::SingleQuoted: return '\'';
        case ScalarStyle::DoubleQuoted: return '"';
        case ScalarStyle::Literal: return '|';
        case ScalarStyle::Folded: return '>';
    }
    return '?';
}

// ` &anchor <tag>`, each when present.
void write_properties(Writer& out, const Event& ev) {
    if (ev.anchor) {
        out.put(" &");
        out.put(*ev.anchor);
    }
    if (ev.tag) {
        out.put(" <");
        out.put(ev.tag->handle);
        out.put(ev.tag->suffix);
        out.put('>');
    }
}

// One event as a test.event line.
void write_event(Writer& out, const Event& ev, std::string_view text) {
    switch (ev.type) {
        case EventType::StreamStart: out.put("+STR"); break;
        case EventType::StreamEnd: out.put("-STR"); break;
        case EventType::DocumentStart: out.put(ev.explicit_start ? "+DOC ---" : "+DOC"); break;
        case EventType::DocumentEnd:
            out.put(ends_with_marker(ev, text) ? "-DOC ..." : "-DOC");
            break;
        case EventType::MappingStart:
            out.put(ev.flow ? "+MAP {}" : "+MAP");
            write_properties(out, ev);
            break;
        case EventType::MappingEnd: out.put("-MAP"); break;
        case EventType::SequenceStart:
            out.put(ev.flow ? "+SEQ []" : "+SEQ");
            write_properties(out, ev);
            break;
        case EventType::SequenceEnd: out.put("-SEQ"); break;
        case EventType::Scalar:
            out.put("=VAL");
            write_properties(out, ev);
            out.put(' ');
            out.put(style_indicator(ev.style));
            out.put_event_text(ev.value);
            break;
        case EventType::Alias:
            out.put("=ALI *");
            out.put(ev.anchor.value_or(""));
            break;
        case EventType::Comment:
            out.put("=COM ");
            out.put_json(ev.value);
            break;
    }
    out.put('\n');
}

int run_events(std::string_view, std::span<char* const> args) {
    if (args.size() != 1) return fail_usage("usage: brackle-dump events FILE");
    std::string input;
    if (!read_input(args[0], input)) return 2;

    const std::string_view text = without_bom(input);
    EventReader reader(text);
    Writer out(stdout);
    Event ev;
    do {
        if (!reader.next(ev)) {
            write_error(out, reader.error());
            return 1;
        }
        write_event(out, ev, text);
    } while (ev.type != EventType::StreamEnd);
    return 0;
}

constexpr std::string_view roundtrip_usage =
    "usage: brackle-dump roundtrip FILE [--explicit-start] [--explicit-end] [--flow] "
    "[--preserve-quotes] [--width N] [--map-indent N] [--seq-indent N] [--seq-offset N] "
    "[--line-break lf|crlf|cr]";

bool parse_count(std::string_view text, std::uint64_t& out) {
    const auto r = std::from_chars(text.data(), text.data() + text.size(), out);
    return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

// Fills `options` and `path` from the arguments; false on a usage error.
bool parse_roundtrip_args(std::span<char* const> args, brackle_core::EmitOptions& options,
                          const char*& path) {
    path = nullptr;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view a = args[i];
        std::uint64_t* count = a == "--width"        ? &options.width
                               : a == "--map-indent" ? &options.map_indent
                               : a == "--seq-indent" ? &options.seq_indent
                               : a == "--seq-offset" ? &options.seq_offset
                                                     : nullptr;
        if (count != nullptr || a == "--line-break") {
            if (++i == args.size()) return false;
            const std::string_view v = args[i];
            if (count != nullptr) {
                if (!parse_count(v, *count)) return false;
            } else if (v == "lf" || v == "crlf" || v == "cr") {
                options.line_break = v == "lf" ? 0 : v == "crlf" ? 2 : 3;
            } else {
                return false;
            }
        } else if (a == "--explicit-start") {
            options.explicit_start = true;
        } else if (a == "--explicit-end") {
            options.explicit_end = true;
        } else if (a == "--flow") {
            options.default_flow_style = true;
        } else if (a == "--preserve-quotes") {
            options.preserve_quotes = true;
        } else if (path == nullptr && (a == "-" || !a.starts_with("--"))) {
            path = args[i];
        } else {
            return false;
        }
    }
    return path != nullptr;
}

int run_roundtrip(std::string_view, std::span<char* const> args) {
    brackle_core::EmitOptions options;
    const char* path = nullptr;
    if (!parse_roundtrip_args(args, options, path)) return fail_usage(roundtrip_usage);
    std::string input;
    if (!read_input(path, input)) return 2;

    const auto emitted = brackle_core::emitter::round_trip(input, options);
    if (const auto* e = std::get_if<brackle_core::ParseError>(&emitted)) {
        Writer err(stderr);
        err.put("error ");
        err.put_uint(e->line);
        err.put(':');
        err.put_uint(e->col);
        err.put(' ');
        err.put_json(e->message);
        err.put('\n');
        return 1;
    }
    if (const auto* e = std::get_if<brackle_core::EmitError>(&emitted)) {
        Writer err(stderr);
        err.put("error ");
        err.put_json(e->message());
        err.put('\n');
        return 1;
    }
    Writer out(stdout);
    out.put(std::get<std::string>(emitted));
    return 0;
}

struct Command {
    std::string_view name;
    std::string_view usage;  // the arguments after the name
    int (*run)(std::string_view name, std::span<char* const> args);
};

constexpr Command commands[] = {
    {"tokens", "FILE", run_tokens},
    {"events", "FILE", run_events},
    {"roundtrip", "FILE [options]", run_roundtrip},
};

void print_usage(std::FILE* stream) {
    std::fprintf(stream, "usage:\n");
    for (const Command& c : commands) {
        std::fprintf(stream, "  %s %.*s %.*s\n", program, int(c.name.size()), c.name.data(),
                     int(c.usage.size()), c.usage.data());
    }
    std::fprintf(stream, "FILE may be - for standard input.\n");
}

}  // namespace

int main(int argc, char** argv) {
    std::span<char* const> args(argv, static_cast<std::size_t>(argc));
    if (args.size() < 2) {
        print_usage(stderr);
        return 2;
    }
    std::string_view name = args[1];
    if (name == "-h" || name == "--help") {
        print_usage(stdout);
        return 0;
    }
    for (const Command& c : commands) {
        if (c.name == name) return c.run(name, args.subspan(2));
    }
    std::fprintf(stderr, "%s: unknown command '%s'\n", program, args[1]);
    print_usage(stderr);
    return 2;
}
