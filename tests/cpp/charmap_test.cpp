// The character map: the number of characters, lines where only LF ends a
// line, line texts, and the size limit of a source.
#include "core/src/charmap.hpp"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <string>
#include <vector>

#include "tests/cpp/loader_test_util.hpp"

namespace brackle_test {
namespace {

using brackle_core::CharMap;

CharMap map_of(std::string_view text) {
    std::optional<CharMap> map = CharMap::build(text);
    EXPECT_TRUE(map.has_value());
    return *map;
}

std::string repeat(std::string_view s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

// U+00E9 (2 bytes), U+20AC (3 bytes), U+1D11E (4 bytes).
const std::string e_acute = "\xC3\xA9";
const std::string euro = "\xE2\x82\xAC";
const std::string clef = "\xF0\x9D\x84\x9E";

TEST(CharMap, AgreesWithCountingEveryCharacterAndLine) {
    // Lines longer than a machine word, so that counting by words matters.
    const std::string texts[] = {
        "",
        "a: 1\nb: 2\n",
        repeat(e_acute, 20) + "x\n" + repeat("\xC3\xBC", 9) + "z",
        repeat(e_acute + "ab" + euro, 7) + "\n\n" + clef + repeat("x", 13) + "\r\n" + e_acute,
        "\r\r\n" + repeat(clef, 5) + "\n" + repeat(" ", 17) + euro,
        // Line feeds at many places in a word, and vertical tabs (a line feed
        // plus one) right after them.
        "\n\x0B\n\x0B\x0B\n" + repeat(e_acute, 3) + "\n\n\x0B" + euro + "\n" + repeat("\n", 9),
    };
    for (const std::string& text : texts) {
        SCOPED_TRACE("text: " + escape(text));
        const CharMap map = map_of(text);
        ASSERT_EQ(map.chars() + 1, char_offsets(text).size());
        std::size_t line = 0;
        for (std::size_t b = 0; b < text.size(); ++b) {
            ASSERT_EQ(map.line_of_byte(b), line) << "byte " << b;
            if (text[b] == '\n') ++line;
        }
        EXPECT_EQ(map.line_count(), line + 1);
    }
}

TEST(CharMap, CutsLinesAtLineFeedsOnly) {
    // The map borrows its text, which has to outlive it. A CR stays in its
    // line's text.
    const std::string text = "a\r\nb\n\nc\rd";
    const CharMap lines = map_of(text);
    const std::string_view texts[] = {"a\r", "b", "", "c\rd", ""};
    for (std::size_t line = 0; line < std::size(texts); ++line)
        EXPECT_EQ(lines.line_text(line), texts[line]) << "line " << line;
    EXPECT_EQ(map_of("a\n").line_text(1), "");
}

TEST(CharMap, RefusesASourceBeyondFourGibibytes) {
    // Zero pages that are never written: the limit must be checked before
    // the text is read.
    const std::size_t size = std::size_t{0xFFFFFFFF} + 1;
    void* pages =
        mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (pages == MAP_FAILED) GTEST_SKIP() << "cannot reserve 4 GiB of address space";
    const std::string_view huge(static_cast<const char*>(pages), size);

    EXPECT_FALSE(CharMap::build(huge).has_value());
    auto result = brackle_core::loader::parse(huge);
    ASSERT_TRUE(std::holds_alternative<ParseError>(result));
    const ParseError& error = std::get<ParseError>(result);
    EXPECT_EQ(error.message, "brackle-core: source larger than 4 GiB");
    EXPECT_FALSE(error.internal);
    munmap(pages, size);
}

}  // namespace
}  // namespace brackle_test
