// The parser against the YAML test suite, through `brackle-dump events` run as
// a process, so that the tool's output format is what is compared: every input
// the suite rejects ends in an error line, and every input it accepts gives
// exactly its test.event (comment lines left out). Known differences come
// from tests/suite_known_differences.txt with the checks `error` (a rejected
// input that parses) and `events` (an accepted input whose events differ or
// that fails); a listed difference that no longer occurs fails too.
#include <gtest/gtest.h>

#include <iostream>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tests/cpp/dump_util.hpp"
#include "tests/cpp/suite_util.hpp"

namespace brackle_test {
namespace {

DumpRun dump_events(const fs::path& input) {
    // Far more than the events of any input could take.
    const std::size_t limit = 64 * fs::file_size(input) + 4096;
    return run_dump("events '" + input.string() + "'", limit);
}

std::vector<std::string> lines_of(std::string_view text) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        lines.emplace_back(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return lines;
}

// A finished run: status 0 with the stream's end last, or status 1 with the
// error line last. Anything else (a crash, a usage failure) is never a
// difference the list can excuse.
std::string broken_run(const DumpRun& run) {
    if (run.too_long) return "output without end";
    const std::vector<std::string> lines = lines_of(run.out);
    const std::string last = lines.empty() ? "" : lines.back();
    if (run.status == 0 && last == "-STR") return "";
    if (run.status == 1 && last.starts_with("error ")) return "";
    return "exit status " + std::to_string(run.status) + ", last line \"" + last + "\"";
}

std::vector<std::string> without_comments(const std::vector<std::string>& lines) {
    std::vector<std::string> kept;
    for (const auto& line : lines)
        if (!line.starts_with("=COM ")) kept.push_back(line);
    return kept;
}

TEST(ParserSuite, InputsTheSuiteRejectsEndInAnError) {
    if (const std::string reason = suite_missing_reason(); !reason.empty()) GTEST_SKIP() << reason;
    std::set<std::string> considered;
    std::vector<std::pair<std::string, std::string>> differences;
    for (const auto& c : suite_cases()) {
        if (!c.must_fail) continue;
        considered.insert(c.id);
        const fs::path input = c.dir / "in.yaml";
        const DumpRun run = dump_events(input);
        if (const std::string broken = broken_run(run); !broken.empty())
            ADD_FAILURE() << c.id << ": " << broken;
        else if (run.status == 0)
            differences.emplace_back(c.id, "parses, but the suite rejects it");
    }
    const std::size_t rejected = considered.size() - differences.size();
    std::cout << "[ suite    ] rejected " << rejected << " of " << considered.size()
              << " inputs the suite rejects\n";
    RecordProperty("rejected", static_cast<int>(rejected));
    RecordProperty("error_tests", static_cast<int>(considered.size()));
    ASSERT_GT(considered.size(), 50u) << "suite at " << suite_dir() << " looks incomplete";
    expect_listed("error", known_differences("error"), considered, differences);
}

TEST(ParserSuite, InputsTheSuiteAcceptsGiveItsEvents) {
    if (const std::string reason = suite_missing_reason(); !reason.empty()) GTEST_SKIP() << reason;
    std::set<std::string> considered;
    std::vector<std::pair<std::string, std::string>> differences;
    for (const auto& c : suite_cases()) {
        if (c.must_fail || !fs::exists(c.dir / "test.event")) continue;
        considered.insert(c.id);
        const fs::path input = c.dir / "in.yaml";
        const DumpRun run = dump_events(input);
        if (const std::string broken = broken_run(run); !broken.empty()) {
            ADD_FAILURE() << c.id << ": " << broken;
            continue;
        }
        const std::vector<std::string> actual = without_comments(lines_of(run.out));
        const std::vector<std::string> expected = lines_of(read_file(c.dir / "test.event"));
        if (run.status != 0)
            differences.emplace_back(c.id, actual.back());
        else if (actual != expected)
            differences.emplace_back(c.id, first_difference(expected, actual));
    }
    const std::size_t matching = considered.size() - differences.size();
    std::cout << "[ suite    ] events match for " << matching << " of " << considered.size()
              << " inputs the suite accepts\n";
    RecordProperty("matching", static_cast<int>(matching));
    RecordProperty("valid_tests", static_cast<int>(considered.size()));
    ASSERT_GT(considered.size(), 200u) << "suite at " << suite_dir() << " looks incomplete";
    expect_listed("events", known_differences("events"), considered, differences);
}

}  // namespace
}  // namespace brackle_test
