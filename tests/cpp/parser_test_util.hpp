// Helpers for the parser tests: run the parser over a whole text and render
// its events compactly, so that an expectation reads as one line.
//
// Rendering, one word per event:
//   +STR -STR  +DOC (implicit) +DOC--- (explicit)  -DOC
//   +SEQ +SEQ[] (flow)  -SEQ  +MAP +MAP{} (flow)  -MAP
//   =VAL:plain =VAL'single =VAL"double =VAL|literal =VAL>folded
//   =ALI*name#id  =COM# text
// Node properties follow the kind: an anchor as &name#id, a tag as
// <handle|suffix> with the handle as resolved, e.g. +SEQ[]&a#1<!|t>,
// =VAL<tag:yaml.org,2002:|str>:x. A run that fails ends with
// ERR(message @ index:line:col).
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scanner/src/parser.hpp"
#include "tests/cpp/scanner_test_util.hpp"

namespace brackle_test {

using brackle_scanner::Event;
using brackle_scanner::EventType;
using brackle_scanner::Parser;

struct ParseRun {
    std::vector<Event> events;
    std::optional<ScanError> error;
    bool hit_limit = false;  // `limit` events arrived without StreamEnd
};

// Events up to and including the first StreamEnd, or up to the first error.
inline ParseRun run_parser(std::string_view text, std::size_t limit = 100'000) {
    ParseRun out;
    Parser parser(text);
    for (std::size_t i = 0; i < limit; ++i) {
        Event ev;
        if (!parser.next_event(ev)) {
            out.error = parser.error();
            return out;
        }
        bool end = ev.type == EventType::StreamEnd;
        out.events.push_back(std::move(ev));
        if (end) return out;
    }
    out.hit_limit = true;
    return out;
}

inline std::string render_properties(const Event& e) {
    std::string out;
    if (e.anchor)
        out += "&" + escape(*e.anchor) + "#" + std::to_string(e.anchor_id);
    else if (e.anchor_id != 0)
        out += "&?#" + std::to_string(e.anchor_id);  // an id without a name is a fault
    if (e.tag) out += "<" + escape(e.tag->handle) + "|" + escape(e.tag->suffix) + ">";
    return out;
}

inline std::string render_event(const Event& e) {
    switch (e.type) {
        case EventType::StreamStart: return "+STR";
        case EventType::StreamEnd: return "-STR";
        case EventType::DocumentStart: return e.explicit_start ? "+DOC---" : "+DOC";
        case EventType::DocumentEnd: return "-DOC";
        case EventType::SequenceStart:
            return std::string("+SEQ") + (e.flow ? "[]" : "") + render_properties(e);
        case EventType::SequenceEnd: return "-SEQ";
        case EventType::MappingStart:
            return std::string("+MAP") + (e.flow ? "{}" : "") + render_properties(e);
        case EventType::MappingEnd: return "-MAP";
        case EventType::Alias:
            return "=ALI*" + escape(e.anchor.value_or("")) + "#" + std::to_string(e.anchor_id);
        case EventType::Comment: return "=COM" + escape(e.value);
        case EventType::Scalar: {
            const char* style = ":";
            switch (e.style) {
                case ScalarStyle::Plain: style = ":"; break;
                case ScalarStyle::SingleQuoted: style = "'"; break;
                case ScalarStyle::DoubleQuoted: style = "\""; break;
                case ScalarStyle::Literal: style = "|"; break;
                case ScalarStyle::Folded: style = ">"; break;
            }
            return "=VAL" + render_properties(e) + style + escape(e.value);
        }
    }
    return "?";
}

inline std::string render(const ParseRun& r) {
    std::string out;
    for (const auto& e : r.events) {
        if (!out.empty()) out += ' ';
        out += render_event(e);
    }
    if (r.error) {
        if (!out.empty()) out += ' ';
        out += "ERR(" + r.error->info + " @ " + mark_str(r.error->mark) + ")";
    }
    if (r.hit_limit) out += " <no end>";
    return out;
}

// The whole event stream of `text`, rendered.
inline std::string parse_events(std::string_view text) { return render(run_parser(text)); }

// The span of the `nth` event of `text` that renders as `rendered`.
inline std::string event_span(std::string_view text, std::string_view rendered, int nth = 0) {
    ParseRun r = run_parser(text);
    for (const auto& e : r.events)
        if (render_event(e) == rendered && nth-- == 0) return span_str(e.span);
    return "<no " + std::string(rendered) + " in: " + render(r) + ">";
}

// The error of parsing `text`, as "message @ index:line:col".
inline std::string parse_error(std::string_view text) {
    ParseRun r = run_parser(text);
    if (!r.error) return "<no error: " + render(r) + ">";
    return r.error->info + " @ " + mark_str(r.error->mark);
}

inline void expect_parse_errors(const std::vector<ErrorCase>& cases) {
    for (const auto& c : cases) {
        SCOPED_TRACE("input: " + escape(c.input));
        EXPECT_EQ(parse_error(c.input), std::string(c.message) + " @ " + std::string(c.mark));
    }
}

inline void expect_events(const std::vector<Case>& cases) {
    for (const auto& c : cases) {
        SCOPED_TRACE("input: " + escape(c.input));
        EXPECT_EQ(parse_events(c.input), c.expected);
    }
}

// A row of a span table: the event (as rendered), which occurrence, its span.
struct SpanCase {
    std::string_view input;
    std::string_view event;
    int nth;
    std::string_view span;  // start-end, each index:line:col
};

inline void expect_spans(const std::vector<SpanCase>& cases) {
    for (const auto& c : cases) {
        SCOPED_TRACE("input: " + escape(c.input) + ", event " + std::string(c.event) + " #" +
                     std::to_string(c.nth));
        EXPECT_EQ(event_span(c.input, c.event, c.nth), c.span);
    }
}

}  // namespace brackle_test
