// Collection indicators: flow brackets, entries, explicit keys, values,
// the implicit single-pair mappings of flow sequences, adjacent values and
// the nesting limit.
#include <string>

#include "tests/cpp/scanner_test_util.hpp"

namespace brackle_test {
namespace {

TEST(FlowCollection, BracketsEntriesAndImplicitPairs) {
    const Case cases[] = {
        {"[a, b]",
         "StreamStart FlowSequenceStart Scalar(a) FlowEntry Scalar(b) FlowSequenceEnd StreamEnd"},
        {"[]", "StreamStart FlowSequenceStart FlowSequenceEnd StreamEnd"},
        {"{}", "StreamStart FlowMappingStart FlowMappingEnd StreamEnd"},
        {"[a,]", "StreamStart FlowSequenceStart Scalar(a) FlowEntry FlowSequenceEnd StreamEnd"},
        {"{a: b, c: d}",
         "StreamStart FlowMappingStart Key Scalar(a) Value Scalar(b) FlowEntry Key Scalar(c) Value "
         "Scalar(d) FlowMappingEnd StreamEnd"},
        {"{a, b: c}",
         "StreamStart FlowMappingStart Scalar(a) FlowEntry Key Scalar(b) Value Scalar(c) "
         "FlowMappingEnd StreamEnd"},
        {"[[a], {b: c}]",
         "StreamStart FlowSequenceStart FlowSequenceStart Scalar(a) FlowSequenceEnd FlowEntry "
         "FlowMappingStart Key Scalar(b) Value Scalar(c) FlowMappingEnd FlowSequenceEnd StreamEnd"},
        // A `:` inside a flow sequence opens a single-pair mapping that the
        // next `,` or `]` closes.
        {"[a: b]",
         "StreamStart FlowSequenceStart FlowMappingStart Key Scalar(a) Value Scalar(b) "
         "FlowMappingEnd FlowSequenceEnd StreamEnd"},
        {"[a: b, c]",
         "StreamStart FlowSequenceStart FlowMappingStart Key Scalar(a) Value Scalar(b) "
         "FlowMappingEnd FlowEntry Scalar(c) FlowSequenceEnd StreamEnd"},
        {"[a: b, c: d]",
         "StreamStart FlowSequenceStart FlowMappingStart Key Scalar(a) Value Scalar(b) "
         "FlowMappingEnd FlowEntry FlowMappingStart Key Scalar(c) Value Scalar(d) FlowMappingEnd "
         "FlowSequenceEnd StreamEnd"},
        {"[a:]",
         "StreamStart FlowSequenceStart FlowMappingStart Key Scalar(a) Value FlowMappingEnd "
         "FlowSequenceEnd StreamEnd"},
        {"[: b]",
         "StreamStart FlowSequenceStart FlowMappingStart Value Scalar(b) FlowMappingEnd "
         "FlowSequenceEnd StreamEnd"},
        {"[[a]: b]",
         "StreamStart FlowSequenceStart FlowMappingStart Key FlowSequenceStart Scalar(a) "
         "FlowSequenceEnd Value Scalar(b) FlowMappingEnd FlowSequenceEnd StreamEnd"},
        {"[\"a\":b]",
         "StreamStart FlowSequenceStart FlowMappingStart Key Scalar(\"a\") Value Scalar(b) "
         "FlowMappingEnd FlowSequenceEnd StreamEnd"},
        // `{` sets the explicit-mapping flag and `}` leaves it set.
        {"[ {a: b}, c: d ]",
         "StreamStart FlowSequenceStart FlowMappingStart Key Scalar(a) Value Scalar(b) "
         "FlowMappingEnd FlowEntry Key Scalar(c) Value Scalar(d) FlowSequenceEnd StreamEnd"},
        {"[? a : b]",
         "StreamStart FlowSequenceStart Key Scalar(a) Value Scalar(b) FlowSequenceEnd StreamEnd"},
        // A mapping key on an earlier line than its `:` is fine in an explicit flow mapping.
        {"{a\n: b}",
         "StreamStart FlowMappingStart Key Scalar(a) Value Scalar(b) FlowMappingEnd StreamEnd"},
        {"{a: [b]}",
         "StreamStart FlowMappingStart Key Scalar(a) Value FlowSequenceStart Scalar(b) "
         "FlowSequenceEnd FlowMappingEnd StreamEnd"},
        {"[a:,b]",
         "StreamStart FlowSequenceStart FlowMappingStart Key Scalar(a) Value FlowMappingEnd "
         "FlowEntry Scalar(b) FlowSequenceEnd StreamEnd"},
        {"{[a]:b}",
         "StreamStart FlowMappingStart Key FlowSequenceStart Scalar(a) FlowSequenceEnd Value "
         "Scalar(b) FlowMappingEnd StreamEnd"},
        {"{a\n b: c}",
         "StreamStart FlowMappingStart Key Scalar(a b) Value Scalar(c) FlowMappingEnd StreamEnd"},
        {"{a:}", "StreamStart FlowMappingStart Key Scalar(a) Value FlowMappingEnd StreamEnd"},
        {"{a:,b}",
         "StreamStart FlowMappingStart Key Scalar(a) Value FlowEntry Scalar(b) FlowMappingEnd "
         "StreamEnd"},
        {"- [a, b]\n- {c: d}",
         "StreamStart BlockSequenceStart BlockEntry FlowSequenceStart Scalar(a) FlowEntry "
         "Scalar(b) FlowSequenceEnd BlockEntry FlowMappingStart Key Scalar(c) Value Scalar(d) "
         "FlowMappingEnd BlockEnd StreamEnd"},
        {"a: [b,\n  c]\nd: e",
         "StreamStart BlockMappingStart Key Scalar(a) Value FlowSequenceStart Scalar(b) FlowEntry "
         "Scalar(c) FlowSequenceEnd Key Scalar(d) Value Scalar(e) BlockEnd StreamEnd"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(escape(c.input));
        EXPECT_EQ(tokens(c.input), c.expected);
    }
}

TEST(FlowCollection, IndicatorSpansIncludeTheBlanksAndCommentAfterThem) {
    const struct {
        std::string_view input, token;
        int nth;
        std::string_view span;
    } cases[] = {
        {"[a, b]", "FlowSequenceStart", 0, "0:1:0-1:1:1"},
        {"[a, b]", "FlowEntry", 0, "2:1:2-4:1:4"},
        {"[a, b]", "FlowSequenceEnd", 0, "5:1:5-6:1:6"},
        {"[  a ]  ", "FlowSequenceStart", 0, "0:1:0-3:1:3"},
        {"[  a ]  ", "FlowSequenceEnd", 0, "5:1:5-8:1:8"},
        {"[ # c\n a]", "FlowSequenceStart", 0, "0:1:0-5:1:5"},
        {"{a: b}", "FlowMappingStart", 0, "0:1:0-1:1:1"},
        {"{a: b}", "FlowMappingEnd", 0, "5:1:5-6:1:6"},
        {"{a: b}", "Key", 0, "1:1:1-1:1:1"},
        {"{a: b}", "Value", 0, "2:1:2-2:1:2"},
        // The implicit mapping's start and key sit at the key; its end at what closed it.
        {"[a: b]", "FlowMappingStart", 0, "1:1:1-1:1:1"},
        {"[a: b]", "Key", 0, "1:1:1-1:1:1"},
        {"[a: b]", "FlowMappingEnd", 0, "5:1:5-5:1:5"},
        {"[a: b, c]", "FlowMappingEnd", 0, "5:1:5-5:1:5"},
        {"[: b]", "FlowMappingStart", 0, "1:1:1-1:1:1"},
        {"-  x", "BlockEntry", 0, "3:1:3-3:1:3"},
        {"- # c\n  x", "BlockEntry", 0, "5:1:5-5:1:5"},
        {"? a", "Key", 0, "0:1:0-0:1:0"},
        {"[? a : b]", "Key", 0, "1:1:1-1:1:1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.token) + " in " + escape(c.input));
        EXPECT_EQ(span_of(c.input, c.token, c.nth), c.span);
    }
}

TEST(BlockIndicators, EntriesKeysAndValues) {
    const Case cases[] = {
        {"-", "StreamStart BlockSequenceStart BlockEntry BlockEnd StreamEnd"},
        {"- - a",
         "StreamStart BlockSequenceStart BlockEntry BlockSequenceStart BlockEntry "
         "Scalar(a) BlockEnd BlockEnd StreamEnd"},
        {"-\n  a", "StreamStart BlockSequenceStart BlockEntry Scalar(a) BlockEnd StreamEnd"},
        {"- a: b",
         "StreamStart BlockSequenceStart BlockEntry BlockMappingStart Key Scalar(a) Value "
         "Scalar(b) BlockEnd BlockEnd StreamEnd"},
        {"?\n: b", "StreamStart BlockMappingStart Key Value Scalar(b) BlockEnd StreamEnd"},
        {"? a\n? b\n: c",
         "StreamStart BlockMappingStart Key Scalar(a) Key Scalar(b) Value Scalar(c) BlockEnd "
         "StreamEnd"},
        {"? - a\n: - b",
         "StreamStart BlockMappingStart Key BlockSequenceStart BlockEntry Scalar(a) BlockEnd Value "
         "BlockSequenceStart BlockEntry Scalar(b) BlockEnd BlockEnd StreamEnd"},
        {"? a: b",
         "StreamStart BlockMappingStart Key BlockMappingStart Key Scalar(a) Value Scalar(b) "
         "BlockEnd BlockEnd StreamEnd"},
        {"a:\n  b:\n  c:",
         "StreamStart BlockMappingStart Key Scalar(a) Value BlockMappingStart Key Scalar(b) Value "
         "Key Scalar(c) Value BlockEnd BlockEnd StreamEnd"},
        {"a: b\n: c",
         "StreamStart BlockMappingStart Key Scalar(a) Value Scalar(b) Value Scalar(c) BlockEnd "
         "StreamEnd"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(escape(c.input));
        EXPECT_EQ(tokens(c.input), c.expected);
    }
}

TEST(FlowCollection, NestingLimitIs255) {
    const std::string ok = std::string(255, '[') + std::string(255, ']');
    ScanResult r = scan(ok);
    EXPECT_FALSE(r.error) << r.error->info;
    EXPECT_EQ(r.tokens.size(), 2u + 510u);
    EXPECT_TRUE(r.ended);

    const std::string mixed = std::string(127, '[') + std::string(128, '{') + "a" +
                              std::string(128, '}') + std::string(127, ']');
    EXPECT_FALSE(scan(mixed).error);

    EXPECT_EQ(error_of(std::string(256, '[')), "recursion limit exceeded @ 255:1:255");
    EXPECT_EQ(error_of(std::string(255, '{') + "[a]"), "recursion limit exceeded @ 255:1:255");
}

// "invalid indentation for anchor" has no row: an anchor or tag in column 0
// with a block open saves a required simple key, which fails with "simple key
// expect ':'" as soon as the scan reaches the `-` on a later line.
TEST(ScanErrors, IndicatorMessagesAndMarks) {
    expect_errors({
        {"]", "misplaced bracket", "0:1:0"},
        {"a: }", "misplaced bracket", "3:1:3"},
        {"[a]]", "misplaced bracket", "3:1:3"},
        {"[- a]", "\"-\" is only valid inside a block", "1:1:1"},
        {"{a: - b}", "\"-\" is only valid inside a block", "4:1:4"},
        {"a: - b", "block sequence entries are not allowed in this context", "3:1:3"},
        {"&x - a", "block sequence entries are not allowed in this context", "3:1:3"},
        {"-\t- a", "'-' must be followed by a valid YAML whitespace", "2:1:2"},
        {"- \t- a", "'-' must be followed by a valid YAML whitespace", "3:1:3"},
        {"a: ? b", "mapping keys are not allowed in this context", "3:1:3"},
        {"? \ta", "tabs disallowed in this context", "2:1:2"},
        {"?\n\ta", "tabs disallowed in this context", "2:2:0"},
        {"?\ta", "expected whitespace", "1:1:1"},
        {"a: b: c", "mapping values are not allowed in this context", "4:1:4"},
        {"a:\tb", "':' must be followed by a valid YAML whitespace", "3:1:3"},
        {"a:\t\t-1", "':' must be followed by a valid YAML whitespace", "4:1:4"},
        {"[a\n: b]", "illegal placement of ':' indicator", "3:2:0"},
        {"['a'\n: b]", "illegal placement of ':' indicator", "5:2:0"},
        {"[a\n b: c]", "illegal placement of ':' indicator", "5:2:2"},
        {"{a:[b]}", "':' may not precede any of `[{` in flow mapping", "2:1:2"},
        {"[a:{b: c}]", "':' may not precede any of `[{` in flow mapping", "2:1:2"},
        {"[a]#c", "comments must be separated from other tokens by whitespace", "3:1:3"},
        {"[#c]", "comments must be separated from other tokens by whitespace", "1:1:1"},
        {"[a,#c]", "comments must be separated from other tokens by whitespace", "3:1:3"},
        {"['a'#c]", "comments must be separated from other tokens by whitespace", "4:1:4"},
        {"'a'#c", "comments must be separated from other tokens by whitespace", "3:1:3"},
    });
}

}  // namespace
}  // namespace brackle_test
