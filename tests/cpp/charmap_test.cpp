// The character map: character index to byte offset, slices, 0-based
// positions where only LF ends a line, line texts, lone CRs, and the size
// limit of a source.
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

TEST(CharMap, MapsCharacterIndicesToBytesAndPositions) {
    const struct {
        std::string text;
        std::size_t index;
        std::size_t byte;
        std::string pos;
    } points[] = {
        {"", 0, 0, "0:0"},
        {"", 5, 0, "0:0"},
        {"a" + e_acute + "\nb", 2, 3, "0:2"},  // the line feed ends line 0
        {"a" + e_acute + "\nb", 3, 4, "1:0"},
        {"a" + e_acute + "\nb", 9, 5, "1:1"},  // past the end: the end
        // A CR is a character of its line; only the LF ends it.
        {"a\r\nb", 2, 2, "0:2"},
        {"a\r\nb", 3, 3, "1:0"},
        {"a\rb", 2, 2, "0:2"},
    };
    for (const auto& p : points) {
        SCOPED_TRACE("text: " + escape(p.text) + ", index " + std::to_string(p.index));
        const CharMap map = map_of(p.text);
        EXPECT_EQ(map.byte_at(p.index), p.byte);
        EXPECT_EQ(pos_str(map.position_at(p.index)), p.pos);
    }
}

TEST(CharMap, AgreesWithCountingEveryCharacter) {
    // Lines longer than a machine word, so that counting by words matters.
    const std::string texts[] = {
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
        const std::vector<std::size_t> offsets = char_offsets(text);
        ASSERT_EQ(map.chars() + 1, offsets.size());
        Position expected;
        for (std::size_t i = 0; i < offsets.size(); ++i) {
            ASSERT_EQ(map.byte_at(i), offsets[i]) << "index " << i;
            ASSERT_EQ(map.position_at(i), expected) << "index " << i;
            ASSERT_EQ(map.position_of(i, offsets[i]), expected) << "index " << i;
            if (i + 1 < offsets.size() && text[offsets[i]] == '\n') {
                expected = Position{expected.line + 1, 0};
            } else {
                ++expected.col;
            }
        }
    }
}

TEST(CharMap, CutsSlicesAndLinesAndNoticesLoneCarriageReturns) {
    // The map borrows its text, which has to outlive it.
    const std::string text = "a" + e_acute + "\nb";
    const CharMap map = map_of(text);
    EXPECT_EQ(map.slice(1, 2), e_acute);
    EXPECT_EQ(map.slice(0, 99), "a" + e_acute + "\nb");
    EXPECT_EQ(map.slice(2, 1), "");
    EXPECT_EQ(map_of("").slice(0, 3), "");

    // Only an LF ends a line; a CR stays in its line's text.
    const CharMap lines = map_of("a\r\nb\n\nc\rd");
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
