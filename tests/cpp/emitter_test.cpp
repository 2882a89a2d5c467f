// The emitter: layout from the options for documents without source
// positions, the stream's markers and end, flow collections, tags and
// trivia; and the sound forms it writes where the source's own layout
// cannot be kept.
#include "core/src/emitter/emitter.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "core/src/loader.hpp"

namespace brackle_core::emitter {
namespace {

std::string emitted(std::span<const Document> docs, const EmitOptions& options = {}) {
    EmitResult r = emit(docs, options);
    if (const auto* e = std::get_if<EmitError>(&r)) return "error: " + e->message();
    return std::get<std::string>(r);
}

std::string round_trip(const std::string& text, const EmitOptions& options = {}) {
    auto loaded = loader::parse(text);
    if (const auto* e = std::get_if<ParseError>(&loaded)) return "load error: " + e->message;
    return emitted(std::get<std::vector<Document>>(loaded), options);
}

// Builds a document whose nodes have no source position and no raw text, so
// that everything about its layout comes from the options.
struct Built {
    Document doc;

    Built() { doc.final_line_break = true; }
    NodeIndex scalar(std::string value, NodeStyle style = NodeStyle::Plain) {
        return add(kind::Scalar{std::move(value), std::nullopt}, style);
    }
    NodeIndex null_value() { return add(kind::Scalar{}, NodeStyle::Plain); }
    NodeIndex alias(std::string name) {
        return add(kind::Alias{std::move(name)}, NodeStyle::Block);
    }
    NodeIndex seq(std::vector<NodeIndex> items, NodeStyle style = NodeStyle::Block) {
        return add(kind::Sequence{std::move(items)}, style);
    }
    NodeIndex map(std::vector<std::pair<NodeIndex, NodeIndex>> pairs,
                  NodeStyle style = NodeStyle::Block) {
        kind::Mapping m;
        for (auto [k, v] : pairs) {
            Entry e;
            e.key = k;
            e.value = v;
            m.entries.push_back(e);
        }
        return add(std::move(m), style);
    }
    Built& root(NodeIndex i) {
        doc.root = i;
        return *this;
    }
    std::string emit(const EmitOptions& options = {}) const {
        return emitted(std::span<const Document>(&doc, 1), options);
    }

private:
    NodeIndex add(NodeKind kind, NodeStyle style) {
        Node n;
        n.kind = std::move(kind);
        n.style = style;
        doc.nodes.push_back(std::move(n));
        return static_cast<NodeIndex>(doc.nodes.size() - 1);
    }
};

TEST(EmitLayout, SequenceIndentAndOffsetPlaceDashesAndItemKeys) {
    Built b;
    const NodeIndex item = b.map({{b.scalar("k"), b.scalar("1")}, {b.scalar("l"), b.scalar("2")}});
    b.root(b.map({{b.scalar("a"), b.seq({b.scalar("x"), item})}}));
    EmitOptions options;
    options.seq_indent = 4;
    options.seq_offset = 2;
    EXPECT_EQ(b.emit(options), "a:\n  - x\n  - k: 1\n    l: 2\n");
    EXPECT_EQ(b.emit(), "a:\n- x\n- k: 1\n  l: 2\n");
    // The first key moves right to line up with the others; items closer
    // to the dash than its line allows move right to line up with the first.
    options.seq_offset = 0;
    EXPECT_EQ(b.emit(options), "a:\n- x\n-   k: 1\n    l: 2\n");
    options.seq_indent = 1;
    EXPECT_EQ(b.emit(options), "a:\n- x\n- k: 1\n  l: 2\n");
}

TEST(EmitLayout, MapIndentNestsMappings) {
    Built b;
    b.root(b.map(
        {{b.scalar("a"), b.map({{b.scalar("b"), b.map({{b.scalar("c"), b.scalar("1")}})}})}}));
    EmitOptions options;
    options.map_indent = 4;
    EXPECT_EQ(b.emit(options), "a:\n    b:\n        c: 1\n");
    options.map_indent = 0;  // taken as 1: at the key's column `b` would be the next key
    EXPECT_EQ(b.emit(options), "a:\n b:\n  c: 1\n");
}

TEST(EmitLayout, KeysThatCannotBeImplicitTakeTheQuestionForm) {
    Built b;
    const NodeIndex commented = b.scalar("c");
    b.doc.nodes[commented].trivia.edit().eol = Comment{"# n", 0, false};
    b.root(b.map({{b.seq({b.scalar("x"), b.scalar("y")}), b.map({{b.scalar("k"), b.scalar("v")}})},
                  {b.map({{b.scalar("a"), b.scalar("b")}}), b.scalar("1")},
                  {commented, b.scalar("2")},
                  {b.scalar(std::string(1100, 'k')), b.scalar("3")},
                  {b.seq({}), b.scalar("4")}}));
    EXPECT_EQ(b.emit(), "? - x\n  - y\n: k: v\n? a: b\n: 1\n? c # n\n: 2\n? " +
                            std::string(1100, 'k') + "\n: 3\n[]: 4\n");
}

TEST(EmitLayout, EmptyCollectionsAndNullsStayOnTheKeyLine) {
    Built b;
    b.root(b.map({{b.scalar("a"), b.map({})},
                  {b.scalar("b"), b.seq({})},
                  {b.scalar("c"), b.null_value()},
                  {b.alias("x"), b.scalar("1")}}));
    EXPECT_EQ(b.emit(), "a: {}\nb: []\nc:\n*x : 1\n");
}

TEST(EmitLayout, FlowSequenceFitsOnOneLineOrBreaksPerItemWithTheBracketAfterTheLast) {
    Built b;
    b.root(
        b.seq({b.scalar("aaaaaaaa"), b.scalar("bbbbbbbb"), b.scalar("cccccccc")}, NodeStyle::Flow));
    EXPECT_EQ(b.emit(), "[aaaaaaaa, bbbbbbbb, cccccccc]\n");
    EmitOptions narrow;
    narrow.width = 10;
    EXPECT_EQ(b.emit(narrow), "[\n  aaaaaaaa,\n  bbbbbbbb,\n  cccccccc]\n");
}

TEST(EmitLayout, ScalarsWithoutPositionFoldAtTheWidth) {
    Built b;
    b.root(b.map({{b.scalar("k"), b.scalar("one two three four five six")}}));
    EmitOptions options;
    options.width = 12;
    EXPECT_EQ(b.emit(options), "k: one two\n  three four\n  five six\n");
}

TEST(EmitLayout, AValuePastTheWidthBeginsTheLineBelowItsKeyWhereItFits) {
    Built b;
    b.root(b.map(
        {{b.scalar("key"), b.scalar("value-ten")},
         {b.scalar("k"), b.scalar("a-value-longer-than-any-line")},
         {b.scalar("flow"), b.map({{b.scalar("a"), b.scalar("bbbbbbbb")}}, NodeStyle::Flow)}}));
    EmitOptions options;
    options.width = 13;
    // A value too long for any line stays after its key; in a flow mapping
    // the value stands further in than its key.
    EXPECT_EQ(b.emit(options),
              "key:\n  value-ten\nk: a-value-longer-than-any-line\nflow: {\n  a:\n    bbbbbbbb}\n");
}

TEST(EmitLayout, QuotedTextFoldsCountingItsOpeningQuote) {
    Built b;
    b.root(b.map({{b.scalar("q"), b.scalar("aa bb cc dd", NodeStyle::DoubleQuoted)}}));
    EmitOptions options;
    options.width = 15;
    options.preserve_quotes = true;
    EXPECT_EQ(b.emit(options), "q: \"aa bb cc\n  dd\"\n");
}

TEST(EmitLayout, LineBreakFollowsTheCodeAndCarriageReturnsInRawText) {
    Built b;
    const NodeIndex raw = b.scalar("x y");
    b.doc.nodes[raw].kind = kind::Scalar{"x y", "'x\r\n  y'"};
    b.root(b.map({{b.scalar("a"), raw}, {b.scalar("b"), b.scalar("1")}}));
    EXPECT_EQ(b.emit(), "a: 'x\r\n  y'\r\nb: 1\r\n");
    EmitOptions lf;
    lf.line_break = 1;
    EXPECT_EQ(b.emit(lf), "a: 'x\r\n  y'\nb: 1\n");
    EmitOptions cr;
    cr.line_break = 3;
    EXPECT_EQ(b.emit(cr), "a: 'x\r\n  y'\rb: 1\r");
}

std::string relaid(const std::string& text, const EmitOptions& options) {
    auto loaded = loader::parse(text);
    if (const auto* e = std::get_if<ParseError>(&loaded)) return "load error: " + e->message;
    EmitResult r = relayout(std::move(std::get<std::vector<Document>>(loaded)), text, options);
    if (const auto* e = std::get_if<EmitError>(&r)) return "error: " + e->message();
    return std::get<std::string>(r);
}

TEST(Relayout, WritesEveryNodeAnewWithItsCommentsInOrderAndAtMostTwoBlankLines) {
    const std::string text =
        "a:   {b: 1,  c: [x,y]}   # note\n\n\n\n\nd:\n    - 1   # one\n      # two\n    - 'q'\n"
        "k: # after the colon\n- a # in the value\n";
    EmitOptions options;
    options.preserve_quotes = true;
    EXPECT_EQ(relaid(text, options),
              "a: {b: 1, c: [x, y]} # note\n\n\nd:\n- 1 # one\n  # two\n- 'q'\n"
              "k: # after the colon\n- a # in the value\n");
    // In flow style no blank line stands inside the brackets, and the
    // comment after the colon stays ahead of those inside the value.
    options.default_flow_style = true;
    options.line_break = 2;
    EXPECT_EQ(relaid("k: # c\n\n- a # d\n- b\n", options),
              "{\r\n  k: # c\r\n  [\r\n    a, # d\r\n    b]}\r\n");
}

TEST(EmitStream, MarkersFollowTheOptionsAndTheDocuments) {
    struct Case {
        const char* input;
        std::function<void(EmitOptions&)> set;
        const char* expected;
    };
    const Case cases[] = {
        {"a: 1\n", [](EmitOptions& o) { o.explicit_start = true; }, "---\na: 1\n"},
        {"a: 1\n", [](EmitOptions& o) { o.explicit_end = true; }, "a: 1\n...\n"},
        // Without its marker the root keeps its source column.
        {"--- a\n", [](EmitOptions& o) { o.explicit_start = false; }, "    a\n"},
        {"%YAML 1.2\n--- a\n", [](EmitOptions& o) { o.explicit_start = false; },
         "%YAML 1.2\n--- a\n"},
        {"a\n...\nb\n", [](EmitOptions& o) { o.explicit_end = false; }, "a\n--- b\n"},
        // A stream of comments holds no document: a marker would make one.
        {"# only\n", [](EmitOptions& o) { o.explicit_start = true; }, "# only\n"},
        // Nothing may follow `...` on its line.
        {"a\n...\nb: 1\n", [](EmitOptions& o) { o.default_flow_style = true; }, "a\n...\n{b: 1}\n"},
        // Directives after a document need its `...` even when not asked
        // for: they would read as its content.
        {"a\n...\n%YAML 1.2\n--- b\n", [](EmitOptions& o) { o.explicit_end = false; },
         "a\n...\n%YAML 1.2\n--- b\n"},
    };
    for (const Case& c : cases) {
        EmitOptions options;
        c.set(options);
        EXPECT_EQ(round_trip(c.input, options), c.expected) << c.input;
    }
}

TEST(EmitStream, TheStreamTailEndsTheLastLine) {
    Built b;
    b.root(b.scalar("a"));
    b.doc.final_line_break = false;
    b.doc.stream_tail = "\n# end";
    EXPECT_EQ(b.emit(), "a\n# end");
    b.doc.stream_tail = "  ";
    EXPECT_EQ(b.emit(), "a  ");
    EXPECT_EQ(emitted({}), "");
}

TEST(EmitStream, AnEmptyRootKeepsItsDocumentByTheMarker) {
    Built b;
    b.root(b.null_value());
    EXPECT_EQ(b.emit(), "---\n");
    b.doc.nodes[0].extras.edit().anchor = "a";  // the anchor stands for it
    EXPECT_EQ(b.emit(), "&a\n");
}

TEST(EmitTrivia, BlankLinesAndCommentsStandWhereTheirColumnsSay) {
    Built b;
    b.root(b.scalar("0123456789"));
    b.doc.trailing = {Blank{2}, Comment{"# own", 4, true}};
    EXPECT_EQ(b.emit(), "0123456789\n\n\n    # own\n");
    b.doc.trailing = {Comment{"# eol", 20, false}};
    EXPECT_EQ(b.emit(), "0123456789          # eol\n");
    b.doc.nodes[*b.doc.root] = Node{};
    b.doc.nodes[*b.doc.root].kind = kind::Scalar{std::string(25, 'x'), std::nullopt};
    EXPECT_EQ(b.emit(), std::string(25, 'x') + " # eol\n");
}

TEST(EmitTrivia, ASecondCommentOnALineStartsANewOne) {
    Built b;
    b.root(b.scalar("a"));
    b.doc.trailing = {Comment{"# one", 2, false}, Comment{"# two", 2, false}};
    EXPECT_EQ(b.emit(), "a # one\n  # two\n");
}

TEST(EmitTags, RenderEscapesFlowIndicatorsAndFallsBackToVerbatim) {
    EXPECT_EQ(render_tag(NodeTag{"!e!", "a,b", "tag:e,a,b"}), "!e!a%2Cb");
    EXPECT_EQ(render_tag(NodeTag{"!", "x!{}", "!x!{}"}), "!x%21%7B%7D");
    EXPECT_EQ(render_tag(NodeTag{"", "tag:example.com,2000:x", "tag:example.com,2000:x"}),
              "!<tag:example.com,2000:x>");
    EXPECT_EQ(render_tag(NodeTag{"", "!", "!"}), "!");
}

TEST(EmitTags, ShorthandsThatWouldNotReadBackAreWrittenVerbatim) {
    struct Case {
        NodeTag tag;
        const char* expected;
    };
    const Case cases[] = {
        {{"!!", "", "tag:yaml.org,2002:"}, "!<tag:yaml.org,2002:> a\n"},  // no suffix
        {{"!x!", "b", "tag:x,1:b"}, "!<tag:x,1:b> a\n"},                  // not declared
        {{"!e!", "b", "tag:e,1:b"}, "%TAG !e! tag:e,1:\n--- !e!b a\n"},   // declared
        {{"!!", "", ""}, "error: a tag with neither a suffix nor a full name cannot be written"},
    };
    for (const Case& c : cases) {
        Built b;
        b.root(b.scalar("a"));
        b.doc.nodes[0].extras.edit().tag = c.tag;
        if (c.tag.handle == "!e!") b.doc.tag_directives = {{"!e!", "tag:e,1:"}};
        EXPECT_EQ(b.emit(), c.expected) << c.tag.handle << c.tag.suffix;
    }
}

TEST(EmitTags, RenderEscapesWhatWouldNotReadBackAsPartOfTheTag) {
    // A `%`, white space, `>` and non-ASCII bytes in either form.
    EXPECT_EQ(render_tag(NodeTag{"", "tag:a b", "tag:a b"}), "!<tag:a%20b>");
    EXPECT_EQ(render_tag(NodeTag{"", "tag:a%>!,", "tag:a%>!,"}), "!<tag:a%25%3E!,>");
    EXPECT_EQ(render_tag(NodeTag{"!e!", "a b\xC3\xA9", "tag:e:a b\xC3\xA9"}), "!e!a%20b%C3%A9");
}

TEST(EmitTags, TagsWrittenWithEscapesReadBackAsTheSameTag) {
    // The handle of a `%TAG` prefix written with escapes is found; a tag
    // whose prefix no handle names is written whole in verbatim form.
    for (const std::string_view input :
         {"%TAG !e! tag:e%2C:\n--- !e!x%21 a\n", "%TAG !e! tag:e:\n--- !e!a%20b x\n",
          "!<tag:a%20b> x\n", "!<tag:a%25b> x\n",
          // A directive line the loader reads with no prefix names no tag.
          "%TAG !!m,\n---\n!"}) {
        SCOPED_TRACE(input);
        EXPECT_EQ(round_trip(std::string(input)), input);
    }
}

// Where the source's layout cannot be kept, the emitter writes a form that
// reads back as the same data.
TEST(EmitSoundForms, TextOutOfStepStillReadsBackTheSame) {
    struct Case {
        const char* what;
        const char* input;
        std::function<void(EmitOptions&)> set;
        const char* expected;
    };
    auto start = [](EmitOptions& o) { o.explicit_start = true; };
    auto flow = [](EmitOptions& o) { o.default_flow_style = true; };
    const Case cases[] = {
        {"a block scalar inside a flow collection is written from its value", "a: |\n  x\n", flow,
         "{a: \"x\\n\"}\n"},
        {"plain text a flow collection would cut is quoted", "- a, b\n", flow, "['a, b']\n"},
        {"an indicator is set off from the one before it", "-\n - 42\n", start, "---\n- - 42\n"},
        {"a colon after a property keeps its space", "- !!str : x\n", start, "---\n- !!str : x\n"},
        {"a colon after an empty key keeps its space", "- ? : x\n", start, "---\n- ? : x\n"},
        {"properties out of step join their key's line", "a:\n  &x\n  b: 1\n", start,
         "---\na: &x\n  b: 1\n"},
        {"an explicit key in a flow collection stays explicit", "[? foo\n bar : baz]\n", start,
         "--- [? foo bar: baz]\n"},
        {"a closing bracket after a key stands right of the key", "a: [x, # c\n  y]\n", start,
         "---\na: [x, # c\n  y,\n ]\n"},
        {"continuation lines left of their new block are written from the value", "- 'a\n  b'\n",
         [](EmitOptions& o) {
             o.seq_indent = 6;
             o.seq_offset = 0;
             o.explicit_start = true;
         },
         "---\n- a b\n"},
    };
    for (const Case& c : cases) {
        EmitOptions options;
        c.set(options);
        EXPECT_EQ(round_trip(c.input, options), c.expected) << c.what;
    }
}

// Layouts that once lost their place on the way through: each comes back
// byte for byte.
TEST(EmitIdentity, CommentsAndBlankLinesAroundIndicatorsComeBack) {
    const char* inputs[] = {
        "- a\n  # about b\n- b: 1\n",
        "-\n# c\n  k: 1\n",
        "- &s\n\n  # o\n# d\n  k: 1\n",
        "k:\n-\n# c\n  t: 1\n",
        "- a\n-\n# c\n- b\n",
        "- k: |\n    x\n- &s # c\n  b: 1\n",
        "- a\n\n- b: 1\n  c: 2\n",
        "a:\n  - - |-\n      x\n    - y\n",
        "k:\n  - - x\n  - y\n",
        "p: |\n  x\nreplicas:\n-\n# T\n  team: 1\n",
        "a:\n  b:\n  - # c\n    roles: null\n  - true\n",
        "'[b]': # c\n# d\npool: 1\n",
        "--- |  # c\n  x\n",
        "a:\n? b\n: c\n",
        "{a, b: c}\n",
        "[ &k a: b ]\n",
        "a: |\n  x\n   ",
        // A comment after a value below its colon, and one after the colon.
        "a:\n  b # c\nd: e\n",
        "key:  # note\n  value\n",
        "key: # c1\n  v # c2\n",
        "key: # c1\n  v # c2\nj: 1\n",
        "key: # c1\n  [v] # c2\nj: 1\n",
        // Blanks after a block scalar's header.
        "a: > \n  x\n",
        "- |\t\n\n  x\n",
        "> \n-",
        // An empty value whose properties stand on the colon's line.
        "a: &x # c\n",
        "a: !t # c\nb: 1\n",
        // A last line without a break of its own.
        "...",
        "a\n...\n...",
        // Blank lines and comments before a block scalar's header, and a
        // comment after its colon or dash as well as one after its header.
        "k:\n\n  |\n  x\n",
        "k:\n  # c\n  |\n  x\n",
        "---\n# c\n|\n x\n",
        "k: # c\n  |\n  x\n",
        "k: # c\n  | # d\n  x\n",
        "- # c\n | # d\n x\n",
        "'a #b': |\n  x\n",
        // What follows a block scalar: a line holding only a tab, and the
        // next key's indentation after a scalar without content lines.
        "|\n a\n\t\n",
        "- |\n  a\n\t\n- b\n",
        "- a\n- |\n  a\n \t\n",
        // Blank lines and comments between properties and the content on
        // a later line.
        "k: !t\n\n  b\n",
        "k: &a # c\n  b\n",
        "k: !t # c\n  |\n  x\n",
        "k: &a !t # c\n\n  # d\n  b # e\nj: 1\n",
        "- !t\n  # c\n  x\n",
        "- a\n\n- &x\n\n  x\n",
        "? !t\n  # c\n  x\n",
        "- - !t\n    # c\n    x\n",
        "# top\n- !t\n\n  x\n",
        "!\n\nb",
        "!t # c\n\nb\n",
        "# c\n!t\n\n# d\nb\n",
        "---\n\n&a b",
        // A `#` inside a tag before a header begins no comment.
        "!:# >\ns",
        "k: !:# >\n  s\n",
        "k:\n  a: |\n  b: v\n",
        "- a: |\n\n  b: v\n",
    };
    for (const char* input : inputs) EXPECT_EQ(round_trip(input), input);
}

TEST(EmitErrors, ARefusedStyleNamesItselfAndItsReason) {
    EXPECT_EQ((EmitError{NodeStyle::Literal, "a block scalar cannot be empty"}).message(),
              "a Literal scalar cannot represent this value here: a block scalar cannot be empty");
    Built b;
    b.root(b.seq({}));
    b.doc.nodes[0].kind = kind::Sequence{{7}};
    EXPECT_EQ(b.emit(), "error: brackle-core: node index outside the document");
}

TEST(EmitErrors, NestingDeeperThanTheLimitIsRefusedNotOverflowed) {
    Built b;
    NodeIndex inner = b.scalar("x");
    for (std::uint32_t i = 0; i < max_depth + 5; ++i) inner = b.seq({inner});
    b.root(inner);
    EXPECT_EQ(b.emit(), "error: brackle-core: document nested more than " +
                            std::to_string(max_depth) + " levels deep to emit");
}

}  // namespace
}  // namespace brackle_core::emitter
