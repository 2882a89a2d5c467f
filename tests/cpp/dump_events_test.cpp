// brackle-dump events: the test.event line format with comment lines, the
// document-end marker read from the source, the error line and the exit
// status, run as a separate process. The suite test covers the format over
// the suite's inputs; these pin what the suite leaves out: comments,
// multi-byte text before `...`, errors, standard input.
#include <string>
#include <vector>

#include "tests/cpp/dump_util.hpp"

namespace brackle_test {
namespace {

struct EventsCase {
    const char* behaviour;
    std::string input;
    std::string events;
    int status;
};

TEST(DumpEvents, WritesTheSuiteFormatWithCommentsAndErrors) {
    const std::vector<EventsCase> cases = {
        {"properties as anchor then resolved tag; flow markers; aliases",
         "%TAG !e! tag:e,2000:\n--- !e!m &m\nk: &v !!str v\nl: [*v, {a: b}, x: y]\n"
         "s: !<x:y> 'q'\nt: ! u\n",
         "+STR\n+DOC ---\n+MAP &m <tag:e,2000:m>\n=VAL :k\n=VAL &v <tag:yaml.org,2002:str> :v\n"
         "=VAL :l\n+SEQ []\n=ALI *v\n+MAP {}\n=VAL :a\n=VAL :b\n-MAP\n+MAP {}\n=VAL :x\n"
         "=VAL :y\n-MAP\n-SEQ\n=VAL :s\n=VAL <x:y> 'q\n=VAL :t\n=VAL <!> :u\n-MAP\n-DOC\n-STR\n",
         0},
        {"five escapes in values, other characters as they are",
         "- \"a\\\\b\\tc\\bd\\re\\x01\\u00e9\"\n- |\n  l\n- >-\n  f\n  g\n",
         "+STR\n+DOC\n+SEQ\n=VAL \"a\\\\b\\tc\\bd\\re\x01\xC3\xA9\n=VAL |l\\n\n=VAL >f g\n-SEQ\n"
         "-DOC\n-STR\n",
         0},
        {"comments as JSON strings, after the event before them", "a: 1 # \"q\"\\\tx\n# own\nb:\n",
         "+STR\n+DOC\n+MAP\n=VAL :a\n=VAL :1\n=COM \"# \\\"q\\\"\\\\\\tx\"\n=COM \"# own\"\n"
         "=VAL :b\n=VAL :\n-MAP\n-DOC\n-STR\n",
         0},
        {"`...` found by character index after multi-byte text",
         "\xC3\xA9: \xC3\xBC\xF0\x9F\x98\x80\n...\n",
         "+STR\n+DOC\n+MAP\n=VAL :\xC3\xA9\n=VAL :\xC3\xBC\xF0\x9F\x98\x80\n-MAP\n-DOC ...\n"
         "-STR\n",
         0},
        {"a document ended by the next `---` has no marker", "\xC3\xBC\n---\nx\n...\n",
         "+STR\n+DOC\n=VAL :\xC3\xBC\n-DOC\n+DOC ---\n=VAL :x\n-DOC ...\n-STR\n", 0},
        {"a parse error ends the output", "k: *nope\n",
         "+STR\n+DOC\n+MAP\n=VAL :k\nerror 3:1:3 \"while parsing node, found unknown anchor\"\n",
         1},
        {"a scan error ends the output", "k: 'a\n",
         "+STR\n+DOC\n+MAP\n=VAL :k\n"
         "error 3:1:3 \"while scanning a quoted scalar, found unexpected end of stream\"\n",
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.behaviour);
        const DumpRun run = dump_text("events", c.input);
        EXPECT_EQ(run.out, c.events);
        EXPECT_EQ(run.status, c.status);
    }
}

TEST(DumpEvents, DropsALeadingByteOrderMarkAndReadsStandardInput) {
    const DumpRun run = dump_text("events", "\xEF\xBB\xBF\xC3\xBC\n...\n", true);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "+STR\n+DOC\n=VAL :\xC3\xBC\n-DOC ...\n-STR\n");
}

}  // namespace
}  // namespace brackle_test
