// The emitter over whole inputs: every valid input of the YAML test suite,
// every file of examples/ and generated streams come back byte for byte when
// loaded and emitted unchanged; and, emitted with options that break the
// alignment with the source, every valid suite input reads back to the same
// events (styles, markers and comments aside). Known differences come from
// tests/suite_known_differences.txt with the checks `identity` and
// `reread-OPTION`.
#include <gtest/gtest.h>

#include <iostream>
#include <set>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "core/src/emitter/emitter.hpp"
#include "core/src/loader.hpp"
#include "tests/cpp/data_events.hpp"
#include "tests/cpp/emit_option_sets.hpp"
#include "tests/cpp/suite_util.hpp"
#include "tools/generator.hpp"

namespace brackle_test {
namespace {

using brackle_core::Document;
using brackle_core::EmitOptions;
using brackle_core::EmitResult;

// Loads and emits `text`; the emitted stream, or a line saying what failed.
std::variant<std::string, std::string> round_trip(const std::string& text,
                                                  const EmitOptions& options) {
    auto loaded = brackle_core::loader::parse(text);
    if (const auto* e = std::get_if<brackle_core::ParseError>(&loaded))
        return std::variant<std::string, std::string>(std::in_place_index<1>,
                                                      "load error: " + e->message);
    EmitResult emitted =
        brackle_core::emitter::emit(std::get<std::vector<Document>>(loaded), options);
    if (const auto* e = std::get_if<brackle_core::EmitError>(&emitted))
        return std::variant<std::string, std::string>(std::in_place_index<1>,
                                                      "emit error: " + e->message());
    return std::variant<std::string, std::string>(std::in_place_index<0>,
                                                  std::move(std::get<std::string>(emitted)));
}

std::string first_byte_difference(const std::string& expected, const std::string& actual) {
    std::size_t i = 0;
    while (i < expected.size() && i < actual.size() && expected[i] == actual[i]) ++i;
    return "first difference at byte " + std::to_string(i) + " of " +
           std::to_string(expected.size()) + " (output has " + std::to_string(actual.size()) + ")";
}

std::vector<SuiteCase> valid_cases() {
    std::vector<SuiteCase> cases;
    for (auto& c : suite_cases()) {
        if (!c.must_fail) cases.push_back(std::move(c));
    }
    return cases;
}

TEST(EmitterSuite, UnchangedDocumentsComeBackByteForByte) {
    if (const std::string reason = suite_missing_reason(); !reason.empty()) GTEST_SKIP() << reason;
    std::set<std::string> considered;
    std::vector<std::pair<std::string, std::string>> differences;
    for (const auto& c : valid_cases()) {
        considered.insert(c.id);
        const std::string input = read_file(c.dir / "in.yaml");
        const auto result = round_trip(input, EmitOptions{});
        if (result.index() == 1)
            differences.emplace_back(c.id, std::get<1>(result));
        else if (std::get<0>(result) != input)
            differences.emplace_back(c.id, first_byte_difference(input, std::get<0>(result)));
    }
    const std::size_t identical = considered.size() - differences.size();
    std::cout << "[ suite    ] identical " << identical << " of " << considered.size()
              << " valid inputs\n";
    RecordProperty("identical", static_cast<int>(identical));
    ASSERT_GT(considered.size(), 200u) << "suite at " << suite_dir() << " looks incomplete";
    expect_listed("identity", known_differences("identity"), considered, differences);
}

TEST(EmitterSuite, ExamplesAndGeneratedStreamsComeBackByteForByte) {
    std::vector<std::pair<std::string, std::string>> inputs;
    for (const auto& entry : fs::directory_iterator(fs::path(BRACKLE_SOURCE_DIR) / "examples")) {
        inputs.emplace_back(entry.path().filename().string(), read_file(entry.path()));
    }
    ASSERT_GE(inputs.size(), 5u);
    for (std::uint64_t seed : {1, 2, 3}) {
        inputs.emplace_back("generated stream, seed " + std::to_string(seed),
                            brackle_bench::generate_config_stream(300'000, seed));
    }
    for (const auto& [name, input] : inputs) {
        const auto result = round_trip(input, EmitOptions{});
        ASSERT_EQ(result.index(), 0u) << name << ": " << std::get<1>(result);
        EXPECT_TRUE(std::get<0>(result) == input)
            << name << ": " << first_byte_difference(input, std::get<0>(result));
    }
}

TEST(EmitterSuite, EmittedStreamsReadBackToTheSameEvents) {
    if (const std::string reason = suite_missing_reason(); !reason.empty()) GTEST_SKIP() << reason;
    const std::vector<SuiteCase> cases = valid_cases();
    for (const NamedOptions& set : alignment_breaking_options()) {
        std::set<std::string> considered;
        std::vector<std::pair<std::string, std::string>> differences;
        for (const auto& c : cases) {
            considered.insert(c.id);
            const std::string input = read_file(c.dir / "in.yaml");
            const auto result = round_trip(input, set.options);
            if (result.index() == 1) {
                differences.emplace_back(c.id, std::get<1>(result));
                continue;
            }
            const std::vector<std::string> expected = data_events(input);
            const std::vector<std::string> actual = data_events(std::get<0>(result));
            if (actual != expected)
                differences.emplace_back(c.id, first_difference(expected, actual));
        }
        std::cout << "[ suite    ] " << set.name << ": read back equal "
                  << considered.size() - differences.size() << " of " << considered.size() << "\n";
        const std::string check = std::string("reread-") + set.name;
        expect_listed(check, known_differences(check), considered, differences);
    }
}

// What `round_trip` gives, as text: the stream, or the error it reports.
std::string streamed(const std::string& text, const EmitOptions& options) {
    const brackle_core::RoundTripResult result = brackle_core::emitter::round_trip(text, options);
    if (const auto* e = std::get_if<brackle_core::ParseError>(&result)) {
        return "load error: " + e->message + " at " + std::to_string(e->line) + ":" +
               std::to_string(e->col);
    }
    if (const auto* e = std::get_if<brackle_core::EmitError>(&result)) {
        return "emit error: " + e->message();
    }
    return std::get<std::string>(result);
}

// The same for the whole load emitted at once.
std::string whole(const std::string& text, const EmitOptions& options) {
    auto loaded = brackle_core::loader::parse(text);
    if (const auto* e = std::get_if<brackle_core::ParseError>(&loaded)) {
        return "load error: " + e->message + " at " + std::to_string(e->line) + ":" +
               std::to_string(e->col);
    }
    const auto result = round_trip(text, options);
    return result.index() == 0 ? std::get<0>(result) : std::get<1>(result);
}

// The round trip that writes each document as it is loaded must write what
// emitting the whole load writes, for every input, valid or not, and with
// every option set: the stream's facts (byte-order mark, kept whitespace,
// other line breaks, its end) travel with the first and last documents.
TEST(EmitterSuite, RoundTripDocumentByDocumentWritesWhatTheWholeLoadWrites) {
    std::vector<std::pair<std::string, std::string>> inputs = {
        {"bom and several documents", "\xEF\xBB\xBF# c\na: 1\n--- b\n...\n%YAML 1.2\n---\nc\n"},
        {"tab and trailing blanks in a later document", "a\n---\nb: \t1  \n---\n- x \n"},
        {"mixed line breaks", "a: 1\r\nb: 2\n---\r\nc\r"},
        {"lone CRs", "a\r---\rb\r"},
        {"no line break, raw CR LF in a scalar", "\"a\r\n  b\""},
        {"error in the third document", "a\n---\nb\n---\n[c\n"},
        {"only comments", "# one\n\n# two\n"},
        {"empty", ""},
        {"stream tail after the last document", "a\n...\n# end\n\n  "},
    };
    if (suite_missing_reason().empty()) {
        for (const auto& c : suite_cases()) inputs.emplace_back(c.id, read_file(c.dir / "in.yaml"));
    }
    for (const auto& entry : fs::directory_iterator(fs::path(BRACKLE_SOURCE_DIR) / "examples")) {
        inputs.emplace_back(entry.path().filename().string(), read_file(entry.path()));
    }
    inputs.emplace_back("generated stream", brackle_bench::generate_config_stream(100'000, 4));
    std::vector<NamedOptions> sets = alignment_breaking_options();
    sets.push_back({"defaults", EmitOptions{}});
    for (const NamedOptions& set : sets) {
        for (const auto& [name, input] : inputs) {
            EXPECT_EQ(streamed(input, set.options), whole(input, set.options))
                << name << " with " << set.name;
        }
    }
}

}  // namespace
}  // namespace brackle_test
