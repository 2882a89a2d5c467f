// Fuzz target: an input that loads comes back byte for byte when emitted
// unchanged (within the limits said below; an input in a layout the README
// lists comes back with the same data), and emitted with each set of
// options that breaks the alignment with the source, it gives a text that
// loads again, as does the text laid out anew; the round trip that writes
// each document as it is loaded writes the same. A tree nested deeper than
// the emitter walks is refused with an error, not written, and passes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/src/emitter/emitter.hpp"
#include "core/src/loader.hpp"
#include "fuzz/fuzz_input.hpp"
#include "tests/cpp/data_events.hpp"
#include "tests/cpp/emit_option_sets.hpp"
#include "tests/cpp/listed_layouts.hpp"

namespace {

using brackle_core::Document;
using brackle_core::EmitError;
using brackle_core::EmitOptions;
using brackle_core::ParseError;

// Says what broke, then aborts so that libFuzzer keeps the input.
[[noreturn]] void fail(const char* what, std::string_view detail = {}) {
    std::fprintf(stderr, "fuzz_roundtrip: %s%.*s\n", what, static_cast<int>(detail.size()),
                 detail.data());
    std::abort();
}

bool too_deep(const EmitError& e) {
    return !e.style && std::string_view(e.reason).starts_with(
                           "brackle-core: document nested more than " +
                           std::to_string(brackle_core::max_depth) + " levels");
}

// Whether every tag's text, as the emitter writes it, stands in the source:
// a tag written with escapes it does not need (`!!int%47`) or the verbatim
// form of a tag that has a shorter one (`!<!>`) comes back in that form.
bool tags_as_written(const std::vector<Document>& documents, std::string_view input) {
    for (const Document& doc : documents) {
        for (const brackle_core::Node& node : doc.nodes) {
            const auto& tag = node.extras.get().tag;
            if (tag &&
                input.find(brackle_core::emitter::render_tag(*tag)) == std::string_view::npos)
                return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::optional<std::string_view> text = brackle_fuzz::utf8_text(data, size);
    if (!text) return -1;
    const std::string_view input = *text;
    const auto loaded = brackle_core::loader::parse(input);
    if (const auto* e = std::get_if<ParseError>(&loaded)) {
        if (e->internal) fail("internal load error: ", e->message);
        return 0;
    }
    const auto& documents = std::get<std::vector<Document>>(loaded);

    const auto unchanged = brackle_core::emitter::emit(documents, EmitOptions{});
    // The round trip that writes each document as soon as it is loaded
    // writes what emitting the whole load writes, errors included.
    const auto streamed = brackle_core::emitter::round_trip(input, EmitOptions{});
    if (const auto* e = std::get_if<EmitError>(&unchanged)) {
        const auto* same = std::get_if<EmitError>(&streamed);
        if (!same || *same != *e) fail("the round trip fails otherwise than emit: ", e->message());
        if (too_deep(*e)) return 0;
        fail("unchanged documents not emitted: ", e->message());
    }
    // A NUL ends the stream where the scanner meets it, and the text after it
    // is not kept; a tag comes back in the one form the emitter writes.
    // Everything else, every line's own break included, comes back as it was.
    const std::string& output = std::get<std::string>(unchanged);
    if (const auto* text = std::get_if<std::string>(&streamed); !text || *text != output)
        fail("the round trip writes otherwise than emit of the whole load");
    const bool whole = input.find('\0') == std::string_view::npos;
    if (whole && tags_as_written(documents, input) && output != input) {
        if (!brackle_test::listed_layout(input)) fail("unchanged documents emitted differently");
        if (brackle_test::data_events(output) != brackle_test::data_events(input))
            fail("a text in a listed layout came back with other data");
    }

    for (const brackle_test::NamedOptions& set : brackle_test::alignment_breaking_options()) {
        const auto emitted = brackle_core::emitter::emit(documents, set.options);
        if (const auto* e = std::get_if<EmitError>(&emitted)) {
            if (too_deep(*e)) continue;
            std::fprintf(stderr, "options: %s\n", set.name);
            fail("not emitted: ", e->message());
        }
        const auto reloaded = brackle_core::loader::parse(std::get<std::string>(emitted));
        if (const auto* e = std::get_if<ParseError>(&reloaded)) {
            std::fprintf(stderr, "options: %s\n", set.name);
            fail("emitted text does not load again: ", e->message);
        }
        // Laid out anew, the text loads again too.
        const auto relaid = brackle_core::emitter::relayout(documents, input, set.options);
        if (const auto* e = std::get_if<EmitError>(&relaid)) {
            if (too_deep(*e)) continue;
            std::fprintf(stderr, "options: %s\n", set.name);
            fail("not laid out anew: ", e->message());
        }
        const auto relaid_loaded = brackle_core::loader::parse(std::get<std::string>(relaid));
        if (const auto* e = std::get_if<ParseError>(&relaid_loaded)) {
            std::fprintf(stderr, "options: %s\n", set.name);
            fail("text laid out anew does not load again: ", e->message);
        }
    }
    return 0;
}
