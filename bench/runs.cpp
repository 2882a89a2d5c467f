#include "bench/runs.hpp"

#include <yaml.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "core/src/emitter/emitter.hpp"
#include "core/src/loader.hpp"
#include "scanner/src/parser.hpp"
#include "scanner/src/scanner.hpp"

namespace brackle_bench {

namespace {

void record_error(RunResult& r, std::size_t part, std::string message, std::size_t line,
                  std::size_t col) {
    if (r.errors++ != 0) return;
    r.first_error = std::move(message);
    r.error_part = part;
    r.error_line = line;
    r.error_col = col;
}

void record_brackle_error(RunResult& r, std::size_t part, const brackle_scanner::ScanError& e) {
    record_error(r, part, e.info, e.mark.line, e.mark.col);
}

void record_libyaml_error(RunResult& r, std::size_t part, const yaml_parser_t& parser,
                          const char* fallback) {
    // libyaml counts lines from 0.
    record_error(r, part, parser.problem != nullptr ? parser.problem : fallback,
                 parser.problem_mark.line + 1, parser.problem_mark.column);
}

void start_libyaml(yaml_parser_t& parser, std::string_view text) {
    if (!yaml_parser_initialize(&parser)) {
        std::fprintf(stderr, "libyaml: yaml_parser_initialize failed\n");
        std::exit(1);
    }
    yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char*>(text.data()),
                                 text.size());
}

}  // namespace

void scan_brackle(std::string_view text, std::size_t part, RunResult& r) {
    using brackle_scanner::Delivery;
    brackle_scanner::Scanner scanner(text);
    brackle_scanner::Token token;
    for (;;) {
        Delivery d = scanner.next_token(token);
        if (d == Delivery::Token) {
            ++r.items;
            if (token.type == brackle_scanner::TokenType::Comment) ++r.comments;
            continue;
        }
        if (d == Delivery::Error) record_brackle_error(r, part, scanner.error());
        return;
    }
}

void scan_libyaml(std::string_view text, std::size_t part, RunResult& r) {
    yaml_parser_t parser;
    start_libyaml(parser, text);
    yaml_token_t token;
    for (;;) {
        if (!yaml_parser_scan(&parser, &token)) {
            record_libyaml_error(r, part, parser, "scan error");
            break;
        }
        yaml_token_type_t type = token.type;
        yaml_token_delete(&token);
        if (type == YAML_NO_TOKEN) break;
        ++r.items;
        if (type == YAML_STREAM_END_TOKEN) break;
    }
    yaml_parser_delete(&parser);
}

void parse_brackle(std::string_view text, std::size_t part, RunResult& r) {
    using brackle_scanner::EventType;
    brackle_scanner::Parser parser(text);
    brackle_scanner::Event event;
    while (parser.next_event(event)) {
        ++r.items;
        if (event.type == EventType::Comment) ++r.comments;
        if (event.type == EventType::StreamEnd) return;
    }
    record_brackle_error(r, part, parser.error());
}

void parse_libyaml(std::string_view text, std::size_t part, RunResult& r) {
    yaml_parser_t parser;
    start_libyaml(parser, text);
    yaml_event_t event;
    for (;;) {
        if (!yaml_parser_parse(&parser, &event)) {
            record_libyaml_error(r, part, parser, "parse error");
            break;
        }
        yaml_event_type_t type = event.type;
        yaml_event_delete(&event);
        if (type == YAML_NO_EVENT) break;
        ++r.items;
        if (type == YAML_STREAM_END_EVENT) break;
    }
    yaml_parser_delete(&parser);
}

void load_brackle(std::string_view text, std::size_t part, RunResult& r) {
    const brackle_core::LoadResult result = brackle_core::loader::parse(text);
    if (const auto* error = std::get_if<brackle_core::ParseError>(&result)) {
        record_error(r, part, error->message, std::size_t{error->line} + 1, error->col);
        return;
    }
    for (const brackle_core::Document& doc :
         std::get<std::vector<brackle_core::Document>>(result)) {
        r.items += doc.nodes.size();
    }
}

void roundtrip_brackle(std::string_view text, std::size_t part, RunResult& r) {
    const brackle_core::RoundTripResult emitted =
        brackle_core::emitter::round_trip(text, brackle_core::EmitOptions{});
    if (const auto* error = std::get_if<brackle_core::ParseError>(&emitted)) {
        record_error(r, part, error->message, std::size_t{error->line} + 1, error->col);
        return;
    }
    if (const auto* error = std::get_if<brackle_core::EmitError>(&emitted)) {
        record_error(r, part, error->message(), 0, 0);
        return;
    }
    const std::string& out = std::get<std::string>(emitted);
    r.items += out.size();
    if (out != text) record_error(r, part, "the round trip differs from the input", 0, 0);
}

namespace {

int append_output(void* data, unsigned char* buffer, std::size_t size) {
    static_cast<std::string*>(data)->append(reinterpret_cast<const char*>(buffer), size);
    return 1;
}

}  // namespace

void roundtrip_libyaml(std::string_view text, std::size_t part, RunResult& r) {
    yaml_parser_t parser;
    start_libyaml(parser, text);
    yaml_emitter_t emitter;
    if (!yaml_emitter_initialize(&emitter)) {
        std::fprintf(stderr, "libyaml: yaml_emitter_initialize failed\n");
        std::exit(1);
    }
    std::string out;
    out.reserve(text.size() + text.size() / 4);
    yaml_emitter_set_output(&emitter, append_output, &out);
    yaml_emitter_set_unicode(&emitter, 1);
    yaml_event_t event;
    for (;;) {
        if (!yaml_parser_parse(&parser, &event)) {
            record_libyaml_error(r, part, parser, "parse error");
            break;
        }
        const yaml_event_type_t type = event.type;
        if (type == YAML_NO_EVENT) {
            yaml_event_delete(&event);
            break;
        }
        // yaml_emitter_emit takes the event over, failing or not.
        if (!yaml_emitter_emit(&emitter, &event)) {
            record_error(r, part, emitter.problem != nullptr ? emitter.problem : "emit error", 0,
                         0);
            break;
        }
        if (type == YAML_STREAM_END_EVENT) break;
    }
    r.items += out.size();
    yaml_emitter_delete(&emitter);
    yaml_parser_delete(&parser);
}

}  // namespace brackle_bench
