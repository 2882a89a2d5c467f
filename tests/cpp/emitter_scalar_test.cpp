// Scalars written from their value: the legality of each style with its
// reason, the read-back check, the choice of style, the double-quoted
// escapes, folding at the width, generated block scalars, and a load of the
// written text giving back the value.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/src/emitter/scalar.hpp"
#include "tests/cpp/loader_test_util.hpp"

namespace brackle_test {
namespace {

using brackle_core::emitter::block_syntax_reason;
using brackle_core::emitter::choose_style;
using brackle_core::emitter::plain_syntax_reason;
using brackle_core::emitter::ScalarContext;
using brackle_core::emitter::ScalarError;
using brackle_core::emitter::single_syntax_reason;
using brackle_core::emitter::write;

using Reason = std::optional<std::string_view>;
constexpr Reason kLegal = std::nullopt;

const std::string nel = "\xC2\x85";           // U+0085
const std::string nbsp = "\xC2\xA0";          // U+00A0
const std::string e_acute = "\xC3\xA9";       // U+00E9
const std::string ls = "\xE2\x80\xA8";        // U+2028
const std::string ps = "\xE2\x80\xA9";        // U+2029
const std::string bom = "\xEF\xBB\xBF";       // U+FEFF
const std::string nonchar = "\xEF\xBF\xBE";   // U+FFFE
const std::string clef = "\xF0\x9D\x84\x9E";  // U+1D11E

std::string written(std::string_view value, NodeStyle style, const ScalarContext& ctx) {
    auto result = write(value, style, ctx);
    if (auto* error = std::get_if<ScalarError>(&result)) {
        ADD_FAILURE() << "refused: " << error->reason;
        return {};
    }
    return std::get<std::string>(std::move(result));
}

ScalarContext block_value(std::uint64_t indent = 2) {
    ScalarContext ctx;
    ctx.indent = indent;
    return ctx;
}

TEST(ScalarPlainSyntax, GivesTheFirstFailingRuleInOrder) {
    const struct {
        Reason reason;
        bool in_flow;
        std::vector<std::string> texts;
    } rows[] = {
        {"a plain scalar cannot be empty", false, {""}},
        // Breaks and unprintables are found before any indicator or space.
        {"a plain scalar carries no escapes and is kept to one line",
         false,
         {"a\tb", "a\nb", "a\rb", "a" + nel, "a" + ls, "a" + ps, bom + "a", "a\x7F", "a" + nonchar,
          "- a\n", " a\t"}},
        {"a plain scalar cannot start with an indicator",
         false,
         {"!a", "&a", "*a", "|", "'a'", "#a", "-", "?", ":", "- a", "? a", "[a] b: c"}},
        {"a plain scalar cannot start or end with a space", false, {" a", "a ", " -", "--- a "}},
        {"a plain scalar cannot start with a document marker",
         false,
         {"---", "---a", "...", "--- a: #"}},
        {"`: ` ends a plain scalar", false, {"a: b", "a:", "a: #b"}},
        {"`: ` ends a plain scalar", true, {"a: ,"}},
        {"` #` starts a comment", false, {"a #b"}},
        {"a flow indicator ends a plain scalar in flow context", true, {"a,b", "a]", "a{b}"}},
        // A reader refuses a word "-" directly before a flow indicator.
        {"a flow indicator ends a plain scalar in flow context", true, {"a -"}},
        {kLegal, false, {"-a", "?a", ":a", "--", "..", "a" + nbsp, "a:b", "a#b", "a,b", "a -"}},
        {kLegal, true, {"a -b", "a b" + e_acute + clef}},
    };
    for (const auto& row : rows) {
        for (const std::string& text : row.texts) {
            EXPECT_EQ(plain_syntax_reason(text, row.in_flow), row.reason)
                << testing::PrintToString(text) << " in_flow=" << row.in_flow;
        }
    }
}

TEST(ScalarSingleSyntax, AllowsTabsAndRefusesBreaksAndUnprintables) {
    for (const std::string& text :
         std::vector<std::string>{"", "a\tb", "it's: #x", " " + nbsp + e_acute + clef}) {
        EXPECT_EQ(single_syntax_reason(text), kLegal) << testing::PrintToString(text);
    }
    for (const std::string& text :
         std::vector<std::string>{"a\nb", "a\r", nel, ls, bom, std::string("\0", 1)}) {
        EXPECT_EQ(single_syntax_reason(text),
                  "a single-quoted scalar carries no escapes and is kept to one line")
            << testing::PrintToString(text);
    }
}

TEST(ScalarBlockSyntax, GivesTheFirstFailingRuleInOrder) {
    ScalarContext flow = block_value();
    flow.in_flow = true;
    flow.is_key = true;
    ScalarContext key = block_value();
    key.is_key = true;
    const ScalarContext root = block_value(0);
    const ScalarContext value = block_value();
    const struct {
        std::string text;
        ScalarContext ctx;
        Reason literal;
        Reason folded;
    } rows[] = {
        {"a", flow, "a block scalar is not legal in flow context",
         "a block scalar is not legal in flow context"},
        {"a", key, "a block scalar cannot be an implicit key",
         "a block scalar cannot be an implicit key"},
        {"a", root, "block scalar content must be indented",
         "block scalar content must be indented"},
        {"", value, "a block scalar cannot be empty", "a block scalar cannot be empty"},
        {"a\r\nb", value, "a block scalar carries no escapes", "a block scalar carries no escapes"},
        {"a" + bom, value, "a block scalar carries no escapes",
         "a block scalar carries no escapes"},
        {"\n\n", value, "a block scalar cannot hold nothing but line breaks",
         "a block scalar cannot hold nothing but line breaks"},
        {" a", value, "an indentation indicator would be needed, and is not derivable here",
         "an indentation indicator would be needed, and is not derivable here"},
        {"\n\n\ta", value, "an indentation indicator would be needed, and is not derivable here",
         "an indentation indicator would be needed, and is not derivable here"},
        {"\na", value, kLegal, "a folded scalar cannot start with a line break"},
        {"a\n b", value, kLegal, "a folded scalar cannot fold a more-indented line"},
        {"a\n\tb", value, kLegal, "a folded scalar cannot fold a more-indented line"},
        {"a\n\n", value, kLegal, "a folded scalar cannot keep more than one trailing line break"},
        {"a\tb \n\nc\n", value, kLegal, kLegal},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(block_syntax_reason(row.text, row.ctx, false), row.literal)
            << '"' << row.text << '"';
        EXPECT_EQ(block_syntax_reason(row.text, row.ctx, true), row.folded)
            << '"' << row.text << '"';
    }
}

TEST(ScalarChooseStyle, FollowsStoredStyleThenAutomaticChoice) {
    ScalarContext flow = block_value();
    flow.in_flow = true;
    ScalarContext key = block_value();
    key.is_key = true;
    const ScalarContext value = block_value();
    const struct {
        NodeStyle stored;
        std::string text;
        ScalarContext ctx;
        bool preserve_quotes;
        NodeStyle expected;
    } rows[] = {
        // A scalar that was plain stays plain without the read-back check.
        {NodeStyle::Plain, "true", value, false, NodeStyle::Plain},
        {NodeStyle::SingleQuoted, "true", value, false, NodeStyle::SingleQuoted},
        {NodeStyle::DoubleQuoted, "true", value, false, NodeStyle::SingleQuoted},
        {NodeStyle::DoubleQuoted, "abc", value, false, NodeStyle::Plain},
        {NodeStyle::DoubleQuoted, "abc", value, true, NodeStyle::DoubleQuoted},
        {NodeStyle::SingleQuoted, "abc", value, true, NodeStyle::SingleQuoted},
        {NodeStyle::SingleQuoted, "a\nb", value, true, NodeStyle::DoubleQuoted},
        {NodeStyle::Plain, "", value, false, NodeStyle::SingleQuoted},
        {NodeStyle::Block, "", value, false, NodeStyle::SingleQuoted},
        {NodeStyle::Flow, "x", value, false, NodeStyle::Plain},
        {NodeStyle::Plain, "a\nb", value, false, NodeStyle::DoubleQuoted},
        {NodeStyle::Literal, "a\nb", value, false, NodeStyle::Literal},
        {NodeStyle::Literal, "a\nb", value, true, NodeStyle::Literal},
        {NodeStyle::Folded, "a\nb", value, false, NodeStyle::Folded},
        {NodeStyle::Folded, "a\n\n", value, false, NodeStyle::DoubleQuoted},
        {NodeStyle::Literal, "a\nb", key, false, NodeStyle::DoubleQuoted},
        {NodeStyle::Folded, "ab", key, false, NodeStyle::Plain},
        {NodeStyle::Literal, "ab", flow, false, NodeStyle::Plain},
        {NodeStyle::Plain, "a,b", value, false, NodeStyle::Plain},
        {NodeStyle::Plain, "a,b", flow, false, NodeStyle::SingleQuoted},
        {NodeStyle::Plain, "-a", value, false, NodeStyle::Plain},
        {NodeStyle::Plain, "- a", value, false, NodeStyle::SingleQuoted},
        {NodeStyle::Plain, "a\tb", value, false, NodeStyle::SingleQuoted},
        {NodeStyle::SingleQuoted, "2001-12-14", value, false, NodeStyle::SingleQuoted},
        {NodeStyle::SingleQuoted, "2001-12-14a", value, false, NodeStyle::Plain},
        {NodeStyle::SingleQuoted, bom + "a", value, false, NodeStyle::DoubleQuoted},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(choose_style(row.stored, row.text, row.ctx, row.preserve_quotes), row.expected)
            << '"' << row.text << "\" stored " << static_cast<int>(row.stored);
    }
}

TEST(ScalarWrite, MapsCharactersForEachStyle) {
    const ScalarContext ctx;
    ScalarContext ascii;
    ascii.allow_unicode = false;
    const struct {
        std::string value;
        NodeStyle style;
        ScalarContext ctx;
        std::string text;
    } rows[] = {
        {"a b", NodeStyle::Plain, ctx, "a b"},
        {"it's", NodeStyle::SingleQuoted, ctx, "'it''s'"},
        {"''", NodeStyle::SingleQuoted, ctx, "''''''"},
        {"", NodeStyle::SingleQuoted, ctx, "''"},
        {"", NodeStyle::DoubleQuoted, ctx, "\"\""},
        {std::string("\0\a\b\t\n\v\f\r\x1b", 9), NodeStyle::DoubleQuoted, ctx,
         R"("\0\a\b\t\n\v\f\r\e")"},
        {"say \"hi\" \\ 'x' #", NodeStyle::DoubleQuoted, ctx, R"("say \"hi\" \\ 'x' #")"},
        {nel + nbsp + ls + ps, NodeStyle::DoubleQuoted, ctx, R"("\N\_\L\P")"},
        {nel + nbsp + ls + ps, NodeStyle::DoubleQuoted, ascii, R"("\N\_\L\P")"},
        {"\x01\x1f\x7f", NodeStyle::DoubleQuoted, ctx, R"("\x01\x1f\x7f")"},
        {"\xC2\x9F", NodeStyle::DoubleQuoted, ctx, R"("\x9f")"},
        {bom + "x", NodeStyle::DoubleQuoted, ctx, R"("\ufeffx")"},
        {nonchar, NodeStyle::DoubleQuoted, ctx, R"("\ufffe")"},
        {e_acute + clef, NodeStyle::DoubleQuoted, ctx, "\"" + e_acute + clef + "\""},
        {e_acute + "\xE2\x82\xAC" + clef, NodeStyle::DoubleQuoted, ascii,
         R"("\xe9\u20ac\U0001d11e")"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(written(row.value, row.style, row.ctx), row.text);
    }
}

TEST(ScalarWrite, RefusesAStyleWhoseCheckFails) {
    ScalarContext flow = block_value();
    flow.in_flow = true;
    const ScalarContext ctx = block_value();
    const struct {
        std::string value;
        NodeStyle style;
        ScalarContext ctx;
        std::string_view reason;
    } rows[] = {
        {"a: b", NodeStyle::Plain, ctx, "`: ` ends a plain scalar"},
        {"a,b", NodeStyle::Plain, flow, "a flow indicator ends a plain scalar in flow context"},
        {"a\nb", NodeStyle::SingleQuoted, ctx,
         "a single-quoted scalar carries no escapes and is kept to one line"},
        {"a", NodeStyle::Literal, flow, "a block scalar is not legal in flow context"},
        {"a\n\n", NodeStyle::Folded, ctx,
         "a folded scalar cannot keep more than one trailing line break"},
    };
    for (const auto& row : rows) {
        const auto result = write(row.value, row.style, row.ctx);
        ASSERT_TRUE(std::holds_alternative<ScalarError>(result)) << row.value;
        EXPECT_EQ(std::get<ScalarError>(result), (ScalarError{row.style, row.reason}));
    }
}

TEST(ScalarWrite, FoldsAtTheLastSingleSpaceBeforeAWordWouldPassTheWidth) {
    ScalarContext ctx = block_value(2);
    ctx.width = 20;
    // The running column starts at the indentation: " dddd" would end at
    // 2 + 19 = 21, past 20.
    EXPECT_EQ(written("aaaa bbbb cccc dddd eeee ffff gggg hhhh", NodeStyle::Plain, ctx),
              "aaaa bbbb cccc\n  dddd eeee ffff\n  gggg hhhh");
    const struct {
        std::string value;
        NodeStyle style;
        std::string text;
    } rows[] = {
        // No break before '#', beside a second space, or at the end.
        {"aaaaaaaaaaaaaaaaaaaa #b c", NodeStyle::SingleQuoted, "'aaaaaaaaaaaaaaaaaaaa #b\n  c'"},
        {"aaaaaaaaaaaaaaaaaaaa  b c", NodeStyle::DoubleQuoted, "\"aaaaaaaaaaaaaaaaaaaa  b\n  c\""},
        {"aaaaaaaaaaaaaaaaaaaa \tb", NodeStyle::SingleQuoted, "'aaaaaaaaaaaaaaaaaaaa \tb'"},
        {"aaaaaaaaaaaaaaaaaaaa\t b", NodeStyle::SingleQuoted, "'aaaaaaaaaaaaaaaaaaaa\t b'"},
        {"aaaaaaaaaaaaaaaaaaaa \tb", NodeStyle::DoubleQuoted, "\"aaaaaaaaaaaaaaaaaaaa\n  \\tb\""},
        {"aaaaaaaaaaaaaaaaaaaa  ", NodeStyle::SingleQuoted, "'aaaaaaaaaaaaaaaaaaaa  '"},
        // Escapes and doubled apostrophes are counted whole and never split.
        {"aaaaaaaaaaaaaaa\n\n\n '", NodeStyle::DoubleQuoted, "\"aaaaaaaaaaaaaaa\\n\\n\\n\n  '\""},
        {"aaaaaaaaaaaaaaaaaa' ''", NodeStyle::SingleQuoted, "'aaaaaaaaaaaaaaaaaa''\n  '''''"},
        // Columns count characters, not bytes.
        {"\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9 x y", NodeStyle::Plain,
         "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9 x y"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(written(row.value, row.style, ctx), row.text) << '"' << row.value << '"';
    }
}

TEST(ScalarWrite, FoldsWithTheStreamBreakAndAtLeastOneSpace) {
    ScalarContext ctx;
    ctx.width = 3;
    ctx.line_break = "\r\n";
    EXPECT_EQ(written("ab cd ef", NodeStyle::Plain, ctx), "ab\r\n cd\r\n ef");
}

TEST(ScalarWrite, NeverFoldsAKeyOrAtWidthZero) {
    ScalarContext key = block_value();
    key.width = 5;
    key.is_key = true;
    EXPECT_EQ(written("aaaa bbbb cccc", NodeStyle::Plain, key), "aaaa bbbb cccc");
    EXPECT_EQ(written("aaaa bbbb cccc", NodeStyle::DoubleQuoted, key), "\"aaaa bbbb cccc\"");
    EXPECT_EQ(written("aaaa bbbb cccc", NodeStyle::SingleQuoted, block_value()),
              "'aaaa bbbb cccc'");
    EXPECT_EQ(choose_style(NodeStyle::Folded, "a\nb", key, false), NodeStyle::DoubleQuoted);
}

TEST(ScalarWrite, GeneratesBlockScalars) {
    ScalarContext crlf = block_value(4);
    crlf.line_break = "\r\n";
    ScalarContext narrow = block_value(2);
    narrow.width = 8;
    const ScalarContext ctx = block_value(2);
    const struct {
        std::string value;
        NodeStyle style;
        ScalarContext ctx;
        std::string text;
    } rows[] = {
        {"a", NodeStyle::Literal, ctx, "|-\n  a"},
        {"a\n", NodeStyle::Literal, ctx, "|\n  a"},
        {"a\n\n", NodeStyle::Literal, ctx, "|+\n  a\n"},
        {"\n\na\n  b\n\nc\n", NodeStyle::Literal, ctx, "|\n\n\n  a\n    b\n\n  c"},
        {"a\tb\n", NodeStyle::Literal, crlf, "|\r\n    a\tb"},
        {"a\nb", NodeStyle::Folded, ctx, ">-\n  a\n\n  b"},
        {"a\n\nb\n", NodeStyle::Folded, ctx, ">\n  a\n\n\n  b"},
        {"a b\n", NodeStyle::Folded, ctx, ">\n  a b"},
        {"one two three four\nfive six", NodeStyle::Folded, narrow,
         ">-\n  one\n  two\n  three\n  four\n\n  five\n  six"},
        {"aaaaaaaa \tc d", NodeStyle::Folded, narrow, ">-\n  aaaaaaaa \tc\n  d"},
        {"aaaaaaaa #c d", NodeStyle::Folded, narrow, ">-\n  aaaaaaaa #c\n  d"},
        {"aaaaaa bbbbbb", NodeStyle::Literal, narrow, "|-\n  aaaaaa bbbbbb"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(written(row.value, row.style, row.ctx), row.text) << '"' << row.value << '"';
    }
}

// ---- reading the written text back ------------------------------------------

// A place for a scalar: its context, the document text around it, and the
// scalar's index among the nodes (the loader numbers them in text order).
struct Place {
    const char* name;
    ScalarContext ctx;
    std::string before;
    std::string after;
    NodeIndex at;
};

std::vector<Place> places(std::uint64_t width) {
    auto ctx = [width](std::uint64_t indent, bool in_flow, bool is_key) {
        ScalarContext c;
        c.indent = indent;
        c.width = width;
        c.in_flow = in_flow;
        c.is_key = is_key;
        return c;
    };
    return {
        {"root", ctx(0, false, false), "", "\n", 0},
        {"mapping value", ctx(2, false, false), "k: ", "\n", 2},
        {"sequence item", ctx(2, false, false), "- ", "\n", 1},
        {"block key", ctx(0, false, true), "", ": v\n", 1},
        {"flow item", ctx(2, true, false), "- [", ", x]\n", 2},
        {"flow key", ctx(1, true, true), "{", ": v}\n", 1},
    };
}

// Values made from pieces that stress the rules: blanks, breaks,
// indicators, quotes, escapes and characters outside ASCII.
std::vector<std::string> tricky_values() {
    const std::vector<std::string> pieces = {"a",  "bc", " ",   "  ",   "\t",  "\n", "\n\n",  "#",
                                             ":",  "-",  "?",   ",",    "[",   "}",  "'",     "\"",
                                             "\\", "1",  "0x1", "true", "---", nbsp, e_acute, clef,
                                             nel,  ls,   bom,   "\x01", "\r",  "~"};
    std::vector<std::string> values = {
        "",      "true",  "1:30",     "2001-12-14", "- a",  "a\n",        "a\n\n",     "\n",
        " a\nb", "a\n b", "a b\nc d", "x:",         "a #b", "a  b  c  d", "a \tb \tc", "a\t b\t c"};
    // A small linear congruential generator keeps the values the same on
    // every run.
    std::uint32_t state = 12345;
    auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    for (int n = 0; n < 1500; ++n) {
        std::string v;
        const std::uint32_t length = next() % 8;
        for (std::uint32_t k = 0; k < length; ++k) v += pieces[next() % pieces.size()];
        values.push_back(std::move(v));
    }
    return values;
}

TEST(ScalarRoundTrip, ChosenStyleReadsBackAsTheValue) {
    const std::vector<std::string> values = tricky_values();
    const NodeStyle stored_styles[] = {NodeStyle::Plain, NodeStyle::SingleQuoted,
                                       NodeStyle::DoubleQuoted, NodeStyle::Literal,
                                       NodeStyle::Folded};
    int failures = 0;
    for (const std::uint64_t width : {0u, 2u, 6u}) {
        for (const Place& place : places(width)) {
            for (const std::string& value : values) {
                for (const NodeStyle stored : stored_styles) {
                    const NodeStyle style = choose_style(stored, value, place.ctx, true);
                    const std::string text = written(value, style, place.ctx);
                    const std::string doc_text = place.before + text + place.after;
                    auto result = brackle_core::loader::parse(doc_text);
                    const auto* docs = std::get_if<std::vector<Document>>(&result);
                    std::optional<std::string> read;
                    if (docs && docs->size() == 1 && place.at < docs->front().nodes.size()) {
                        read = docs->front().nodes[place.at].value().value_or("");
                    }
                    if (read != value && ++failures <= 20) {
                        ADD_FAILURE() << place.name << " width " << width << ": value "
                                      << testing::PrintToString(value) << " written as "
                                      << testing::PrintToString(doc_text) << " read as "
                                      << testing::PrintToString(read);
                    }
                }
            }
        }
    }
    EXPECT_EQ(failures, 0);
}

}  // namespace
}  // namespace brackle_test
