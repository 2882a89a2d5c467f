// brackle-dump tokens: the documented line format, the error line and the
// exit status, run as a separate process on files and on standard input.
#include <string>

#include "tests/cpp/dump_util.hpp"

namespace brackle_test {
namespace {

DumpRun dump_tokens(const std::string& text, bool from_stdin = false) {
    return dump_text("tokens", text, from_stdin);
}

TEST(DumpTokens, PrintsEveryPayloadKindAsDocumented) {
    const DumpRun run = dump_tokens(
        "%YAML 1.2\n%TAG !e! tag:x,2000:\n%FOO a \"b\n--- !e!x &a1\n"
        "k: \"q\\t\\u0001\\\\\" # c\nl: [*a1, !!str 's']\nm: |\n  z\n...\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out,
              "StreamStart 0:1:0-0:1:0\n"
              "VersionDirective 0:1:0-9:1:9 1.2\n"
              "TagDirective 10:2:0-30:2:20 \"!e!\" \"tag:x,2000:\"\n"
              "ReservedDirective 31:3:0-40:3:9 \"FOO\" \"a\" \"\\\"b\"\n"
              "DocumentStart 41:4:0-44:4:3\n"
              "Tag 45:4:4-49:4:8 \"!e!\" \"x\"\n"
              "Anchor 50:4:9-53:4:12 \"a1\"\n"
              "BlockMappingStart 54:5:0-54:5:0\n"
              "Key 54:5:0-54:5:0\n"
              "Scalar 54:5:0-55:5:1 Plain \"k\"\n"
              "Value 55:5:1-55:5:1\n"
              "Scalar 57:5:3-70:5:16 DoubleQuoted \"q\\t\\u0001\\\\\"\n"
              "Comment 71:5:17-74:5:20 \"# c\"\n"
              "Key 75:6:0-75:6:0\n"
              "Scalar 75:6:0-76:6:1 Plain \"l\"\n"
              "Value 76:6:1-76:6:1\n"
              "FlowSequenceStart 78:6:3-79:6:4\n"
              "Alias 79:6:4-82:6:7 \"a1\"\n"
              "FlowEntry 82:6:7-84:6:9\n"
              "Tag 84:6:9-89:6:14 \"!!\" \"str\"\n"
              "Scalar 90:6:15-93:6:18 SingleQuoted \"s\"\n"
              "FlowSequenceEnd 93:6:18-94:6:19\n"
              "Key 95:7:0-95:7:0\n"
              "Scalar 95:7:0-96:7:1 Plain \"m\"\n"
              "Value 96:7:1-96:7:1\n"
              "Scalar 102:8:2-104:9:0 Literal \"z\\n\"\n"
              "BlockEnd 104:9:0-104:9:0\n"
              "DocumentEnd 104:9:0-107:9:3\n"
              "StreamEnd 108:10:0-108:10:0\n");
}

TEST(DumpTokens, DropsALeadingByteOrderMarkAndReadsStandardInput) {
    const DumpRun run = dump_tokens(
        "\xEF\xBB\xBF"
        "a\r\n",
        true);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out,
              "StreamStart 0:1:0-0:1:0\n"
              "Scalar 0:1:0-1:1:1 Plain \"a\"\n"
              "StreamEnd 3:2:0-3:2:0\n");
}

TEST(DumpTokens, RefusesBytesThatAreNotUtf8) {
    // Once a hang in the scanner: a stray byte before a line break.
    for (const char* bytes : {">\n \xC0\n", "a: \xED\xA0\x80\n", "\xF5"}) {
        const DumpRun run = dump_tokens(bytes, true);
        EXPECT_EQ(run.status, 2) << bytes;
        EXPECT_EQ(run.out, "") << bytes;
    }
}

TEST(DumpTokens, EndsWithTheErrorLineAndStatusOne) {
    const DumpRun run = dump_tokens("a: 'b\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out,
              "StreamStart 0:1:0-0:1:0\n"
              "BlockMappingStart 0:1:0-0:1:0\n"
              "Key 0:1:0-0:1:0\n"
              "Scalar 0:1:0-1:1:1 Plain \"a\"\n"
              "Value 1:1:1-1:1:1\n"
              "error 3:1:3 \"while scanning a quoted scalar, found unexpected end of stream\"\n");
}

}  // namespace
}  // namespace brackle_test
