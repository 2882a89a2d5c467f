// The parser: documents and markers, block and flow collections, empty nodes,
// properties, anchor ids, tag resolution, comment order, event spans, and
// every message the parser raises with its mark.
#include <string>

#include "tests/cpp/parser_test_util.hpp"

namespace brackle_test {
namespace {

TEST(ParserDocuments, StreamsDocumentsAndMarkers) {
    expect_events({
        {"", "+STR -STR"},
        {"# c\n", "+STR =COM# c -STR"},
        {"a", "+STR +DOC =VAL:a -DOC -STR"},
        {"--- a", "+STR +DOC--- =VAL:a -DOC -STR"},
        // An explicit document with nothing in it holds an empty scalar.
        {"---", "+STR +DOC--- =VAL: -DOC -STR"},
        {"---\n...\n", "+STR +DOC--- =VAL: -DOC -STR"},
        {"---\n---\n", "+STR +DOC--- =VAL: -DOC +DOC--- =VAL: -DOC -STR"},
        // Document end markers in a row produce nothing of their own.
        {"...\n...\na", "+STR +DOC =VAL:a -DOC -STR"},
        {"a\n...\n...\n", "+STR +DOC =VAL:a -DOC -STR"},
        {"a\n...\n...\n---\nb\n", "+STR +DOC =VAL:a -DOC +DOC--- =VAL:b -DOC -STR"},
        // After `...` a document may begin without `---`; after `---` it is explicit.
        {"a\n...\nb\n", "+STR +DOC =VAL:a -DOC +DOC =VAL:b -DOC -STR"},
        {"a\n---\nb", "+STR +DOC =VAL:a -DOC +DOC--- =VAL:b -DOC -STR"},
        // Directives belong to one document; the same ones may open the next.
        {"%YAML 1.2\n---\na\n...\n%YAML 1.2\n--- b",
         "+STR +DOC--- =VAL:a -DOC +DOC--- =VAL:b -DOC -STR"},
        {"%FOO bar\n--- a", "+STR +DOC--- =VAL:a -DOC -STR"},
    });
}

TEST(ParserDocuments, VersionIsThatOfTheDocumentJustStarted) {
    Parser p("%YAML 1.1\n--- a\n...\n--- b\n");
    std::vector<std::optional<std::pair<std::uint32_t, std::uint32_t>>> versions;
    Event e;
    while (p.next_event(e) && e.type != EventType::StreamEnd)
        if (e.type == EventType::DocumentStart) versions.push_back(p.version());
    ASSERT_EQ(versions.size(), 2u);
    EXPECT_EQ(versions[0], std::make_pair(1u, 1u));
    EXPECT_EQ(versions[1], std::nullopt);
}

TEST(ParserDocuments, AfterStreamEndEveryCallGivesStreamEnd) {
    Parser p("a\n");
    Event e;
    int events = 0;
    while (p.next_event(e) && e.type != EventType::StreamEnd) ASSERT_LT(++events, 10);
    ASSERT_EQ(e.type, EventType::StreamEnd);
    for (int i = 0; i < 3; ++i) {
        Event again;
        ASSERT_TRUE(p.next_event(again));
        EXPECT_EQ(again.type, EventType::StreamEnd);
    }
}

TEST(ParserCollections, BlockAndFlowCollectionsNest) {
    expect_events({
        {"a: b\nc: d", "+STR +DOC +MAP =VAL:a =VAL:b =VAL:c =VAL:d -MAP -DOC -STR"},
        {"- a\n- b", "+STR +DOC +SEQ =VAL:a =VAL:b -SEQ -DOC -STR"},
        {"a:\n  b: c\nd: e",
         "+STR +DOC +MAP =VAL:a +MAP =VAL:b =VAL:c -MAP =VAL:d =VAL:e -MAP -DOC -STR"},
        {"- - a\n  - b\n- c", "+STR +DOC +SEQ +SEQ =VAL:a =VAL:b -SEQ =VAL:c -SEQ -DOC -STR"},
        {"a: [b, {c: d}]",
         "+STR +DOC +MAP =VAL:a +SEQ[] =VAL:b +MAP{} =VAL:c =VAL:d -MAP -SEQ -MAP -DOC -STR"},
        {"[]", "+STR +DOC +SEQ[] -SEQ -DOC -STR"},
        {"{}", "+STR +DOC +MAP{} -MAP -DOC -STR"},
        {"[a, b, ]", "+STR +DOC +SEQ[] =VAL:a =VAL:b -SEQ -DOC -STR"},
        {"{a: b, }", "+STR +DOC +MAP{} =VAL:a =VAL:b -MAP -DOC -STR"},
        {"- 'a'\n- \"b\"\n- |\n  c\n- >\n  d\n",
         "+STR +DOC +SEQ =VAL'a =VAL\"b =VAL|c\\n =VAL>d\\n -SEQ -DOC -STR"},
    });
}

TEST(ParserCollections, DashAtTheKeysIndentationOpensAnIndentlessSequence) {
    expect_events({
        {"a:\n- x\n- y\nb: z",
         "+STR +DOC +MAP =VAL:a +SEQ =VAL:x =VAL:y -SEQ =VAL:b =VAL:z -MAP -DOC -STR"},
        {"a:\n- x\n", "+STR +DOC +MAP =VAL:a +SEQ =VAL:x -SEQ -MAP -DOC -STR"},
        {"a:\n-\n- x\nb:",
         "+STR +DOC +MAP =VAL:a +SEQ =VAL: =VAL:x -SEQ =VAL:b =VAL: -MAP -DOC -STR"},
        {"a:\n- x\n-\nb: c",
         "+STR +DOC +MAP =VAL:a +SEQ =VAL:x =VAL: -SEQ =VAL:b =VAL:c -MAP -DOC -STR"},
        {"a:\n- b: c\n  d: e\n- f",
         "+STR +DOC +MAP =VAL:a +SEQ +MAP =VAL:b =VAL:c =VAL:d =VAL:e -MAP =VAL:f -SEQ -MAP -DOC "
         "-STR"},
        {"- a:\n  - b", "+STR +DOC +SEQ +MAP =VAL:a +SEQ =VAL:b -SEQ -MAP -SEQ -DOC -STR"},
        {"a: !!seq\n- x",
         "+STR +DOC +MAP =VAL:a +SEQ<tag:yaml.org,2002:|seq> =VAL:x -SEQ -MAP -DOC -STR"},
    });
}

TEST(ParserCollections, MissingEntriesKeysAndValuesAreEmptyScalars) {
    expect_events({
        {"- a\n- \n", "+STR +DOC +SEQ =VAL:a =VAL: -SEQ -DOC -STR"},
        {"- \n- b", "+STR +DOC +SEQ =VAL: =VAL:b -SEQ -DOC -STR"},
        {"-\n-\n", "+STR +DOC +SEQ =VAL: =VAL: -SEQ -DOC -STR"},
        {"key:", "+STR +DOC +MAP =VAL:key =VAL: -MAP -DOC -STR"},
        {"a:\nb: c", "+STR +DOC +MAP =VAL:a =VAL: =VAL:b =VAL:c -MAP -DOC -STR"},
        {"? key", "+STR +DOC +MAP =VAL:key =VAL: -MAP -DOC -STR"},
        {"? a\n? b", "+STR +DOC +MAP =VAL:a =VAL: =VAL:b =VAL: -MAP -DOC -STR"},
        {"? a\n: b", "+STR +DOC +MAP =VAL:a =VAL:b -MAP -DOC -STR"},
        {"?\n: v", "+STR +DOC +MAP =VAL: =VAL:v -MAP -DOC -STR"},
        {": v", "+STR +DOC +MAP =VAL: =VAL:v -MAP -DOC -STR"},
        // Properties without content make an empty scalar that carries them.
        {"- &a\n- b", "+STR +DOC +SEQ =VAL&a#1: =VAL:b -SEQ -DOC -STR"},
        {"a: &x\nb: c", "+STR +DOC +MAP =VAL:a =VAL&x#1: =VAL:b =VAL:c -MAP -DOC -STR"},
        {"a: !t", "+STR +DOC +MAP =VAL:a =VAL<!|t>: -MAP -DOC -STR"},
    });
}

TEST(ParserCollections, FlowMappingKeysWithoutValues) {
    expect_events({
        {"{ a: 1, b }", "+STR +DOC +MAP{} =VAL:a =VAL:1 =VAL:b =VAL: -MAP -DOC -STR"},
        {"{ a, b: c }", "+STR +DOC +MAP{} =VAL:a =VAL: =VAL:b =VAL:c -MAP -DOC -STR"},
        {"{ a: }", "+STR +DOC +MAP{} =VAL:a =VAL: -MAP -DOC -STR"},
        {"{ : x }", "+STR +DOC +MAP{} =VAL: =VAL:x -MAP -DOC -STR"},
        {"{ ? }", "+STR +DOC +MAP{} =VAL: =VAL: -MAP -DOC -STR"},
        {"{ ? a }", "+STR +DOC +MAP{} =VAL:a =VAL: -MAP -DOC -STR"},
    });
}

TEST(ParserCollections, PairInFlowSequenceIsAOnePairFlowMapping) {
    expect_events({
        {"[ a: b ]", "+STR +DOC +SEQ[] +MAP{} =VAL:a =VAL:b -MAP -SEQ -DOC -STR"},
        {"[ a: b, c ]", "+STR +DOC +SEQ[] +MAP{} =VAL:a =VAL:b -MAP =VAL:c -SEQ -DOC -STR"},
        {"[ ? a : b ]", "+STR +DOC +SEQ[] +MAP{} =VAL:a =VAL:b -MAP -SEQ -DOC -STR"},
        {"[ ? : x ]", "+STR +DOC +SEQ[] +MAP{} =VAL: =VAL:x -MAP -SEQ -DOC -STR"},
        {"[ : x ]", "+STR +DOC +SEQ[] +MAP{} =VAL: =VAL:x -MAP -SEQ -DOC -STR"},
        {"[ ? ]", "+STR +DOC +SEQ[] +MAP{} =VAL: =VAL: -MAP -SEQ -DOC -STR"},
        {"[ ? a, b ]", "+STR +DOC +SEQ[] +MAP{} =VAL:a =VAL: -MAP =VAL:b -SEQ -DOC -STR"},
        // The key's anchor stays on the key: the pair's mapping has none.
        {"[ &x a: b ]", "+STR +DOC +SEQ[] +MAP{} =VAL&x#1:a =VAL:b -MAP -SEQ -DOC -STR"},
    });
}

TEST(ParserProperties, AnchorAndTagComeInEitherOrderAtMostOneEach) {
    expect_events({
        {"&a !t [x]", "+STR +DOC +SEQ[]&a#1<!|t> =VAL:x -SEQ -DOC -STR"},
        {"!t &a [x]", "+STR +DOC +SEQ[]&a#1<!|t> =VAL:x -SEQ -DOC -STR"},
        {"&a !t x", "+STR +DOC =VAL&a#1<!|t>:x -DOC -STR"},
        {"!t &a x", "+STR +DOC =VAL&a#1<!|t>:x -DOC -STR"},
        {"&m\na: b", "+STR +DOC +MAP&m#1 =VAL:a =VAL:b -MAP -DOC -STR"},
        {"!!map {a: b}", "+STR +DOC +MAP{}<tag:yaml.org,2002:|map> =VAL:a =VAL:b -MAP -DOC -STR"},
        // A second anchor (or tag) is not content: the node ends empty before
        // it, and what follows cannot start a document.
        {"&a &b x", "+STR +DOC =VAL&a#1: -DOC ERR(did not find expected <document start> @ 3:1:3)"},
        {"!t !u x",
         "+STR +DOC =VAL<!|t>: -DOC ERR(did not find expected <document start> @ 3:1:3)"},
    });
}

TEST(ParserAnchors, EachAnchorGetsTheNextIdAndAnAliasTheLatestOfItsName) {
    expect_events({
        {"- &a x\n- &a y\n- *a", "+STR +DOC +SEQ =VAL&a#1:x =VAL&a#2:y =ALI*a#2 -SEQ -DOC -STR"},
        {"- &a x\n- *a\n- &a y\n- *a",
         "+STR +DOC +SEQ =VAL&a#1:x =ALI*a#1 =VAL&a#2:y =ALI*a#2 -SEQ -DOC -STR"},
        {"{&k a: &v b, *k : *v}",
         "+STR +DOC +MAP{} =VAL&k#1:a =VAL&v#2:b =ALI*k#1 =ALI*v#2 -MAP -DOC -STR"},
        // The anchor is known as soon as it is read, inside its own node too.
        {"&a [*a]", "+STR +DOC +SEQ[]&a#1 =ALI*a#1 -SEQ -DOC -STR"},
        // The table lives for the whole stream.
        {"&a x\n--- *a", "+STR +DOC =VAL&a#1:x -DOC +DOC--- =ALI*a#1 -DOC -STR"},
        {"&a x\n...\n--- &b [*a, &a y, *a]",
         "+STR +DOC =VAL&a#1:x -DOC +DOC--- +SEQ[]&b#2 =ALI*a#1 =VAL&a#3:y =ALI*a#3 -SEQ -DOC "
         "-STR"},
    });
}

TEST(ParserTags, HandlesResolveThroughTheDocumentsTagDirectives) {
    expect_events({
        {"!x v", "+STR +DOC =VAL<!|x>:v -DOC -STR"},
        {"!!str v", "+STR +DOC =VAL<tag:yaml.org,2002:|str>:v -DOC -STR"},
        // The non-specific tag and verbatim tags keep an empty handle.
        {"! v", "+STR +DOC =VAL<|!>:v -DOC -STR"},
        {"!<tag:a> v", "+STR +DOC =VAL<|tag:a>:v -DOC -STR"},
        {"!<!> v", "+STR +DOC =VAL<|!>:v -DOC -STR"},
        {"%TAG !e! p:\n--- !e!x v", "+STR +DOC--- =VAL<p:|x>:v -DOC -STR"},
        {"%TAG !e! p:\n%TAG !f! q:\n--- [!e!a x, !f!b y]",
         "+STR +DOC--- +SEQ[] =VAL<p:|a>:x =VAL<q:|b>:y -SEQ -DOC -STR"},
        // `!!` and `!` may be redefined, for one document only.
        {"%TAG !! p:\n--- !!str a\n--- !!str b",
         "+STR +DOC--- =VAL<p:|str>:a -DOC +DOC--- =VAL<tag:yaml.org,2002:|str>:b -DOC -STR"},
        {"%TAG ! p:\n--- !x a\n--- !x b",
         "+STR +DOC--- =VAL<p:|x>:a -DOC +DOC--- =VAL<!|x>:b -DOC -STR"},
        // Redefining `!` touches neither the non-specific tag nor verbatim tags.
        {"%TAG ! p:\n--- ! a", "+STR +DOC--- =VAL<|!>:a -DOC -STR"},
        {"%TAG ! p:\n--- !<x> a", "+STR +DOC--- =VAL<|x>:a -DOC -STR"},
        // The same handle declared again in front of a later document.
        {"%TAG !e! p:\n--- !e!a x\n...\n%TAG !e! q:\n--- !e!b y",
         "+STR +DOC--- =VAL<p:|a>:x -DOC +DOC--- =VAL<q:|b>:y -DOC -STR"},
    });
}

TEST(ParserComments, CommentsComeBeforeTheEventOfTheStepThatReadPastThem) {
    expect_events({
        {"# a\n# b\nx # c\n# d", "+STR =COM# a =COM# b +DOC =VAL:x =COM# c =COM# d -DOC -STR"},
        {"a: 1 # c\nb: 2", "+STR +DOC +MAP =VAL:a =VAL:1 =COM# c =VAL:b =VAL:2 -MAP -DOC -STR"},
        {"a: # c\n  b", "+STR +DOC +MAP =VAL:a =COM# c =VAL:b -MAP -DOC -STR"},
        {"- # c\n  x", "+STR +DOC +SEQ =COM# c =VAL:x -SEQ -DOC -STR"},
        {"- # c\n- x", "+STR +DOC +SEQ =COM# c =VAL: =VAL:x -SEQ -DOC -STR"},
        // Between a node's properties and its content.
        {"&a # c\nx", "+STR +DOC =COM# c =VAL&a#1:x -DOC -STR"},
        {"[a, # c\n b]", "+STR +DOC +SEQ[] =VAL:a =COM# c =VAL:b -SEQ -DOC -STR"},
        {"[ ? ] # c", "+STR +DOC +SEQ[] +MAP{} =VAL: =VAL: -MAP -SEQ =COM# c -DOC -STR"},
        {"%YAML 1.2\n# c\n---", "+STR =COM# c +DOC--- =VAL: -DOC -STR"},
        {"--- # c\na", "+STR +DOC--- =COM# c =VAL:a -DOC -STR"},
        {"a\n... # c\n", "+STR +DOC =VAL:a -DOC =COM# c -STR"},
    });
}

TEST(ParserSpans, EmptyScalarsSpanTheWholeTokenTheyStandFor) {
    expect_spans({
        // The stream end: on a fresh line after text that does not end with one.
        {"---\n", "=VAL:", 0, "4:2:0-4:2:0"},
        {"? key", "=VAL:", 0, "5:2:0-5:2:0"},
        // `...` closing an explicit document.
        {"---\n...\n", "=VAL:", 0, "4:2:0-7:2:3"},
        // The `-` entry: empty, after the blanks and comment that follow the `-`.
        {"-\n- a", "=VAL:", 0, "1:1:1-1:1:1"},
        {"- # c\n- x", "=VAL:", 0, "5:1:5-5:1:5"},
        {"a:\n-\nb: c", "=VAL:", 0, "4:2:1-4:2:1"},
        // `key:` with nothing after it, and `a:` before the next key: the `:`.
        {"key:", "=VAL:", 0, "3:1:3-3:1:3"},
        {"a:\nb: c", "=VAL:", 0, "1:1:1-1:1:1"},
        {"{ a: }", "=VAL:", 0, "3:1:3-3:1:3"},
        // A missing key: the `:` that follows.
        {"?\n: v", "=VAL:", 0, "2:2:0-2:2:0"},
        {": v", "=VAL:", 0, "0:1:0-0:1:0"},
        {"{ : x }", "=VAL:", 0, "2:1:2-2:1:2"},
        // A missing value: the token after the key.
        {"? a\n? b", "=VAL:", 0, "4:2:0-4:2:0"},
        {"{ a: 1, b }", "=VAL:", 0, "10:1:10-11:1:11"},
        {"{ a, b } # c", "=VAL:", 0, "3:1:3-5:1:5"},
        {"{ a, b } # c", "=VAL:", 1, "7:1:7-12:1:12"},
        {"{ ? }", "=VAL:", 0, "4:1:4-5:1:5"},
        {"{ ? }", "=VAL:", 1, "4:1:4-5:1:5"},
        {"[ ? ] # c", "=VAL:", 0, "4:1:4-9:1:9"},
        {"[ ? ] # c", "=VAL:", 1, "4:1:4-9:1:9"},
        // Properties without content: the token where content was looked for.
        {"&a &b x", "=VAL&a#1:", 0, "3:1:3-5:1:5"},
        {"- &a\n- b", "=VAL&a#1:", 0, "7:2:2-7:2:2"},
    });
}

TEST(ParserSpans, DocumentCollectionAndOtherEventSpans) {
    expect_spans({
        {"", "+STR", 0, "0:1:0-0:1:0"},
        {"", "-STR", 0, "0:1:0-0:1:0"},
        // An implicit document starts at its first token.
        {"'a' # c", "+DOC", 0, "0:1:0-3:1:3"},
        {"# c\n[x]", "+DOC", 0, "4:2:0-5:2:1"},
        {"a: b", "+DOC", 0, "0:1:0-0:1:0"},
        {"--- a", "+DOC---", 0, "0:1:0-3:1:3"},
        // A document ends at `...`, at the `---` of the next, or at the stream end.
        {"---\n...\n", "-DOC", 0, "4:2:0-7:2:3"},
        {"a\n---\nb", "-DOC", 0, "2:2:0-5:2:3"},
        {"a", "-DOC", 0, "1:2:0-1:2:0"},
        {"a: b", "+MAP", 0, "0:1:0-0:1:0"},
        {"a: b", "-MAP", 0, "4:2:0-4:2:0"},
        // An indentless sequence starts at its first entry and ends at the next key.
        {"a:\n- x\nb: c", "+SEQ", 0, "5:2:2-5:2:2"},
        {"a:\n- x\nb: c", "-SEQ", 0, "7:3:0-7:3:0"},
        // Properties do not widen the span: it is the content token's.
        {"&a !t [x]", "+SEQ[]&a#1<!|t>", 0, "6:1:6-7:1:7"},
        // The one-pair mapping of a flow sequence starts at its key.
        {"[ a: b ]", "+MAP{}", 0, "2:1:2-2:1:2"},
        {"[ &x a: b ]", "+MAP{}", 0, "2:1:2-2:1:2"},
        {"[ ? a : b ]", "+MAP{}", 0, "2:1:2-2:1:2"},
        // ... and, when its `:` is missing, ends after the token that closed it.
        {"[ ? ] # c", "-MAP", 0, "9:1:9-9:1:9"},
        {"[ ? a : ] # c", "=VAL:", 0, "8:1:8-13:1:13"},
        {"[ ? a : ] # c", "-MAP", 0, "13:1:13-13:1:13"},
        {"- &a x\n- *a", "=ALI*a#1", 0, "9:2:2-11:2:4"},
        {"a # c", "=COM# c", 0, "2:1:2-5:1:5"},
    });
}

// Three messages cannot be reached from any text: "did not find expected
// <stream-start>" (the scanner always delivers StreamStart first), "unexpected
// eof" (after the scanner's StreamEnd the parser is in its final state and
// asks for no more tokens) and "fetch_token needs to be preceded by
// peek_token" (an internal invariant).
TEST(ParserErrors, EveryMessageWithTheMarkOfTheTokenLookedAt) {
    expect_parse_errors({
        // After a document that ended without `...`, and after directives.
        {"[a]\nb", "did not find expected <document start>", "4:2:0"},
        {"&a &b x", "did not find expected <document start>", "3:1:3"},
        {"%YAML 1.2\na", "did not find expected <document start>", "10:2:0"},
        {"%TAG !e! p:\n!e!x a", "did not find expected <document start>", "12:2:0"},

        // (A plain scalar at the top level would take the directive line as its
        // continuation, so these documents end with something else.)
        {"[a]\n%YAML 1.2\n---", "missing explicit document end marker before directive", "4:2:0"},
        {"a: b\n%TAG !e! p:\n---", "missing explicit document end marker before directive",
         "5:2:0"},
        {"---\n%FOO\n---", "missing explicit document end marker before directive", "4:2:0"},

        {"- a\nb: c", "while parsing a block collection, did not find expected '-' indicator",
         "4:2:0"},
        // The `-` entry token stands after the `-` and its blanks.
        {"a: b\n- c", "while parsing a block mapping, did not find expected key", "7:2:2"},

        {"[a {b: c}]", "while parsing a flow sequence, expected ',' or ']'", "3:1:3"},
        {"[[a] b]", "while parsing a flow sequence, expected ',' or ']'", "5:1:5"},
        {"[a", "while parsing a flow sequence, expected ',' or ']'", "2:2:0"},
        {"{a: b [c]}", "while parsing a flow mapping, did not find expected ',' or '}'", "6:1:6"},
        {"{a {b: c}}", "while parsing a flow mapping, did not find expected ',' or '}'", "3:1:3"},
        {"{a: b", "while parsing a flow mapping, did not find expected ',' or '}'", "5:2:0"},

        {"*a", "while parsing node, found unknown anchor", "0:1:0"},
        {"- *a\n- &a x", "while parsing node, found unknown anchor", "2:1:2"},
        {"&a x\n--- *b", "while parsing node, found unknown anchor", "9:2:4"},

        {"[,]", "while parsing a node, did not find expected node content", "1:1:1"},
        {"[a, ,]", "while parsing a node, did not find expected node content", "4:1:4"},
        {"{a: b, ,}", "while parsing a node, did not find expected node content", "7:1:7"},
        {"a: ,", "while parsing a node, did not find expected node content", "3:1:3"},

        {"%YAML 1.2\n%YAML 1.2\n---", "duplicate version directive", "10:2:0"},
        {"%YAML 1.1\n%TAG !e! p:\n%YAML 1.2\n---", "duplicate version directive", "22:3:0"},

        {"%TAG !e! p:\n%TAG !e! q:\n---",
         "the TAG directive must only be given at most once per handle in the same document",
         "12:2:0"},
        {"%TAG ! p:\n%TAG ! q:\n---",
         "the TAG directive must only be given at most once per handle in the same document",
         "10:2:0"},

        {"!e!x v", "the handle wasn't declared", "0:1:0"},
        {"a: !e!x v", "the handle wasn't declared", "3:1:3"},
        {"%TAG !f! p:\n--- !e!x a", "the handle wasn't declared", "16:2:4"},
        // A directive holds for its own document only.
        {"%TAG !e! p:\n--- !e!x a\n--- !e!x b", "the handle wasn't declared", "27:3:4"},
    });
}

TEST(ParserErrors, EventsBeforeAnErrorAreDelivered) {
    expect_events({
        {"'a'\n%YAML 1.2\n---",
         "+STR +DOC =VAL'a ERR(missing explicit document end marker before directive @ 4:2:0)"},
        {"- a\n- *b",
         "+STR +DOC +SEQ =VAL:a ERR(while parsing node, found unknown anchor @ 6:2:2)"},
    });
}

TEST(ParserErrors, ScannerErrorsPassThroughUnchanged) {
    for (std::string_view text : {"'a", "- a\n[b]", "%YAML 1.2 x", "a: b: c"}) {
        SCOPED_TRACE("input: " + escape(text));
        std::string scanned = error_of(text);
        ASSERT_EQ(scanned.find("<no error"), std::string::npos) << scanned;
        EXPECT_EQ(parse_error(text), scanned);
    }
}

TEST(ParserErrors, AnErrorIsReturnedAgainOnEveryLaterCall) {
    for (std::string_view text : {"a: b\n- c", "'a"}) {
        SCOPED_TRACE("input: " + escape(text));
        Parser p(text);
        Event e;
        int events = 0;
        while (p.next_event(e)) ASSERT_LT(++events, 20);
        ScanError first = p.error();
        for (int i = 0; i < 3; ++i) {
            Event again;
            EXPECT_FALSE(p.next_event(again));
            EXPECT_EQ(p.error(), first);
        }
    }
}

}  // namespace
}  // namespace brackle_test
