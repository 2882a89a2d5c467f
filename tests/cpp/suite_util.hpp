// The YAML test suite on disk: where it is, its test cases, and the known
// differences listed in tests/suite_known_differences.txt.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#ifndef BRACKLE_SOURCE_DIR
#define BRACKLE_SOURCE_DIR "."
#endif

namespace brackle_test {

namespace fs = std::filesystem;

inline fs::path suite_dir() {
    if (const char* env = std::getenv("BRACKLE_YAML_TEST_SUITE"); env && *env) return env;
    return fs::path(BRACKLE_SOURCE_DIR) / ".." / "shared" / "yaml-test-suite";
}

// Why the suite tests are skipped, or empty when the suite is there.
inline std::string suite_missing_reason() {
    if (fs::is_directory(suite_dir())) return "";
    return "YAML test suite not found at " + suite_dir().string() +
           " (set BRACKLE_YAML_TEST_SUITE)";
}

inline std::string read_file(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

struct SuiteCase {
    std::string id;  // "229Q", or "SM9W/01" for a numbered variant
    fs::path dir;
    bool must_fail;
};

// Every test of the suite, each numbered variant a test of its own, by id.
inline std::vector<SuiteCase> suite_cases() {
    std::vector<SuiteCase> cases;
    for (const auto& entry : fs::recursive_directory_iterator(suite_dir())) {
        if (!entry.is_regular_file() || entry.path().filename() != "in.yaml") continue;
        const fs::path dir = entry.path().parent_path();
        cases.push_back(
            {fs::relative(dir, suite_dir()).generic_string(), dir, fs::exists(dir / "error")});
    }
    std::sort(cases.begin(), cases.end(),
              [](const SuiteCase& a, const SuiteCase& b) { return a.id < b.id; });
    return cases;
}

// The ids listed in tests/suite_known_differences.txt for `check`. A line is
// `ID CHECK reason`; `#` starts a comment line; commas and tabs separate too.
inline std::set<std::string> known_differences(const std::string& check) {
    std::set<std::string> listed;
    std::ifstream known(fs::path(BRACKLE_SOURCE_DIR) / "tests" / "suite_known_differences.txt");
    for (std::string line; std::getline(known, line);) {
        std::replace(line.begin(), line.end(), ',', ' ');
        std::replace(line.begin(), line.end(), '\t', ' ');
        std::istringstream fields(line);
        std::string id, listed_check;
        if (fields >> id >> listed_check && id[0] != '#' && listed_check == check)
            listed.insert(id);
    }
    return listed;
}

// Where two event lists first part, for a failure message.
inline std::string first_difference(const std::vector<std::string>& expected,
                                    const std::vector<std::string>& actual) {
    std::size_t i = 0;
    while (i < expected.size() && i < actual.size() && expected[i] == actual[i]) ++i;
    auto at = [i](const std::vector<std::string>& v) {
        return i < v.size() ? "\"" + v[i] + "\"" : std::string("<end>");
    };
    return "event " + std::to_string(i + 1) + ": expected " + at(expected) + ", got " + at(actual);
}

// Checks the listed ids against the ids that differ: an unlisted difference
// and a listed one that no longer occurs both fail.
inline void expect_listed(const std::string& check, const std::set<std::string>& listed,
                          const std::set<std::string>& considered,
                          const std::vector<std::pair<std::string, std::string>>& differences) {
    std::set<std::string> differing;
    for (const auto& [id, detail] : differences) {
        differing.insert(id);
        if (!listed.count(id)) ADD_FAILURE() << id << " (" << check << "): " << detail;
    }
    for (const auto& id : listed) {
        if (!considered.count(id))
            ADD_FAILURE() << id << " is listed with check " << check
                          << " but is no suite test this check covers";
        else if (!differing.count(id))
            ADD_FAILURE() << id << " is listed with check " << check << " but no longer differs";
    }
}

}  // namespace brackle_test
