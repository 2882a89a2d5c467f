// The fuzz target's classifier of the layouts listed in the README's
// Limits, held to the cases the Python tests' classifier is held to.
#include "tests/cpp/listed_layouts.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "tests/cpp/suite_util.hpp"

namespace brackle_test {
namespace {

// A case's text with its escapes read.
std::string unescaped(std::string_view written) {
    std::string out;
    for (std::size_t i = 0; i < written.size(); ++i) {
        if (written[i] != '\\' || i + 1 == written.size()) {
            out += written[i];
            continue;
        }
        const char c = written[++i];
        if (c == 'n') {
            out += '\n';
        } else if (c == 'r') {
            out += '\r';
        } else if (c == 't') {
            out += '\t';
        } else if (c == 'u' && written.substr(i + 1, 4) == "feff") {
            out += "\xEF\xBB\xBF";
            i += 4;
        } else {
            out += c;
        }
    }
    return out;
}

TEST(ListedLayouts, EachSharedCaseIsInItsLayoutFirst) {
    std::ifstream cases(fs::path(BRACKLE_SOURCE_DIR) / "tests" / "listed_layouts.txt");
    ASSERT_TRUE(cases) << "tests/listed_layouts.txt is missing";
    std::size_t read = 0;
    for (std::string line; std::getline(cases, line);) {
        if (line.empty() || line.starts_with('#')) continue;
        const std::size_t tab = line.find('\t');
        ASSERT_NE(tab, std::string::npos) << line;
        const std::string expected = line.substr(0, tab);
        const std::string text = unescaped(std::string_view(line).substr(tab + 1));
        SCOPED_TRACE(line);
        EXPECT_EQ(std::string(listed_layout(text).value_or("-")), expected);
        ++read;
    }
    EXPECT_GE(read, std::size(layouts::listed) * 2);
}

}  // namespace
}  // namespace brackle_test
