// What the loader keeps for a lossless round trip: where comments and blank
// lines are attached, the raw text of scalars, flow separators, where
// properties and block scalar headers were written, directives, markers,
// the byte-order mark, the stream's end, lines that keep their whitespace,
// and positions in sources whose lines end in CR or CR LF.
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "tests/cpp/loader_test_util.hpp"

namespace brackle_test {
namespace {

TEST(LoaderTrivia, CommentAfterContentGoesByTheFirstRuleThatApplies) {
    expect_rendered(
        {
            // A block sequence before its first entry, or a block mapping after
            // its first `?`: the comment waits for the entry.
            {"- # c\n  x", "x.before=[trail(# c@2)]"},
            {"? # c\n  a\n: b", "a.before=[trail(# c@2)]"},
            {"- # c\n  - x", "seq1.before=[trail(# c@2)]"},
            {"- |  # c\n  x\n", "x\\n.eol=trail(# c@5)"},
            // A collection before its first child, on the collection's line.
            {"[ # c\n  a]", "[]0.eol=trail(# c@2)"},
            {"{ # c\n a: 1}", "{}0.eol=trail(# c@2)"},
            // After a key on its line: the value's after the colon, else the key's.
            {"key:  # note\n  value", "value.eol=trail(# note@6)"},
            {"key: # c\nother: 1", "''.eol=trail(# c@5)"},
            {"{a: # c\n b}", "b.eol=trail(# c@4)"},
            {"? key # c\n: v", "key.eol=trail(# c@6)"},
            {"a: |-  # c\n  x\n\nb: 1", "x.eol=trail(# c@7)"},
            // A block scalar's `eol` is its header's comment; the one after a
            // colon above the header comes before it.
            {"k: # c\n  | # d\n  x", "x\\n.before=[trail(# c@3)] x\\n.eol=trail(# d@4)"},
            {"- # c\n |\n x", "x\\n.before=[trail(# c@2)]"},
            // The node placed last, when it ends on the comment's line.
            {"a: 1  # note", "1.eol=trail(# note@6)"},
            {"- a # c\n- b", "a.eol=trail(# c@4)"},
            {"a: [x, y] # c", "[]2.eol=trail(# c@10)"},
            {"[a, # c\n b]", "a.eol=trail(# c@4)"},
            {"a: x\n  y # c", "x y.eol=trail(# c@4)"},
            // A value below its colon: the `eol` slot holds a comment after
            // the colon, so the one after the value goes after it.
            {"a:\n  y # c", "y.after=[trail(# c@4)]"},
            // A block scalar ends on the line after its content: a comment
            // there follows other content and waits for the next node.
            {"- |\n x\n- !!map # c\n  a: b", "map2.before=[trail(# c@8)]"},
            {"k: # c1\n  v # c2", "v.eol=trail(# c1@3) v.after=[trail(# c2@4)]"},
            {"k: # c1\n  v # c2\nj: 1", "v.eol=trail(# c1@3) v.after=[trail(# c2@4)]"},
            // On the `...` line: the document that ended there.
            {"a\n... # c", "trailing=[trail(# c@4)]"},
            {"a\n... # c\n--- b", "d0.trailing=[trail(# c@4)]"},
            // On the `---` line before any node: the document's leading trivia.
            {"--- # c\na: 1", "leading=[trail(# c@4)]"},
            {"--- # c", "leading=[trail(# c@4)]"},
        },
        [](std::string_view text) { return trivia_of(text); });
}

TEST(LoaderTrivia, EmptyScalarPlacedAtALaterTokenLeavesWhatStandsBeforeThatToken) {
    expect_rendered(
        {
            // An empty key or root stands after its `?` or properties: the
            // comment on that line is its own, the lines below are not.
            {"? # c\n", "''.eol=trail(# c@2)"},
            {"? a\n? # c\n: b", "''.eol=trail(# c@2)"},
            {"!a # c\n", "''.eol=trail(# c@3)"},
            {"?\n\n", "trailing=[blank(1)]"},
            {"? \n\n: b", "b.before=[blank(1)]"},
            {"!a\n\n", "trailing=[blank(1)]"},
            {"&a\n# c\n", "trailing=[own(# c@0)]"},
            {"?\n# c\n? b", "b.before=[own(# c@0)]"},
        },
        [](std::string_view text) { return trivia_of(text); });
}

TEST(LoaderTrivia, TriviaBeforeADocumentEndMarkerGoAfterTheRoot) {
    expect_rendered(
        {
            {"a\n# c\n...\n", "a.after=[own(# c@0)]"},
            {"a: b\n\n...\n", "map0.after=[blank(1)]"},
            {"---\n# c\n...\n", "''.after=[own(# c@0)]"},
            // A flow collection's `after` is inside its brackets.
            {"[a]\n# c\n...\n", "trailing=[own(# c@0)]"},
        },
        [](std::string_view text) { return trivia_of(text); });
}

TEST(LoaderTrivia, OwnLineCommentsGoToTheNodeAfterThemOrTheCollectionAround) {
    expect_rendered(
        {
            {"# c\na: 1", "leading=[own(# c@0)]"},
            {"a: 1\n# c\nb: 2", "b.before=[own(# c@0)]"},
            {"a: 1\r\n# c\r\nb: 2", "b.before=[own(# c@0)]"},
            {"a: 1\r# c\rb: 2", "b.before=[own(# c@0)]"},
            {"- a\n  # c\n- b", "b.before=[own(# c@2)]"},
            {"a: 1\n# c", "trailing=[own(# c@0)]"},
            // Before the first child of a collection: inside it.
            {"a:\n  # c\n  b: 1", "map2.inner=[own(# c@2)]"},
            {"[\n# c\na]", "[]0.inner=[own(# c@0)]"},
            {"{\n\n# c\na: 1}", "{}0.inner=[blank(1) own(# c@0)]"},
            // Less indented than the nested sequence: not inside it.
            {"a:\n  b:\n# c\n    - x", "seq4.before=[own(# c@0)]"},
            {"a:\n  b:\n    # c\n    - x", "seq4.inner=[own(# c@4)]"},
            // An end-of-line comment keeps the own-line ones after it inside.
            {"- # c\n  # d\n  - x", "seq1.before=[trail(# c@2)] seq1.inner=[own(# d@2)]"},
            // Blank lines around the comments inside a nested mapping.
            {"a: 1\nb:\n\n  # c\n\n  x: 1",
             "map4.before=[blank(1)] map4.inner=[own(# c@2) blank(1)]"},
            // A closing nested block collection keeps what is indented to it.
            {"a:\n  - x\n  # in\n# out\nb: 1", "seq2.after=[own(# in@2)] b.before=[own(# out@0)]"},
            {"a:\n  - x\n  # in\n\n# out\nb: 1",
             "seq2.after=[own(# in@2)] b.before=[blank(1) own(# out@0)]"},
            // A closing flow collection takes everything pending.
            {"[x,\n # c\n]", "[]0.after=[own(# c@1)]"},
            {"# c\n%YAML 1.2\n\n--- a", "leading=[own(# c@0) blank(1)]"},
        },
        [](std::string_view text) { return trivia_of(text); });
}

TEST(LoaderTrivia, TriviaBetweenADashAndItsItemStayAfterTheDash) {
    expect_rendered(
        {
            // A collection on the dash's line: everything pending stood before the dash.
            {"- a\n  # about b\n- b: 1", "map2.before=[own(# about b@2)]"},
            // Below a lone dash: inside the collection, after the dash.
            {"-\n# c\n  k: 1", "map1.inner=[own(# c@0)]"},
            {"- &s\n\n  # o\n# d\n  k: 1", "map1.inner=[blank(1) own(# o@2) own(# d@0)]"},
            {"k:\n-\n# c\n  t: 1", "map3.inner=[own(# c@0)]"},
            // After an empty item: after it.
            {"- a\n-\n# c\n- b", "''.after=[own(# c@0)]"},
            // A collection that ends in a block scalar ends on the scalar's last line.
            {"- k: |\n    x\n- &s # c\n  b: 1", "map4.before=[trail(# c@5)]"},
        },
        [](std::string_view text) { return trivia_of(text); });
}

TEST(LoaderTrivia, BlankLineRunsAreCountedBetweenContent) {
    expect_rendered(
        {
            {"a: 1\n\n\nb: 2", "b.before=[blank(2)]"},
            {"a: 1\n  \n\t\nb: 2", "b.before=[blank(2)]"},
            {"a: 1\r\n\r\n\r\nb: 2", "b.before=[blank(2)]"},
            {"- a\n\n- b", "b.before=[blank(1)]"},
            // Before a collection that shares its line with the dash: before the dash.
            {"- a\n\n- b: 1", "map2.before=[blank(1)]"},
            {"-\n\n  b: 1", "map1.inner=[blank(1)]"},
            {"a: 1\n\n# c\n\nb: 2", "b.before=[blank(1) own(# c@0) blank(1)]"},
            {"\n\na: 1", "leading=[blank(2)]"},
            {"a: 1\n\n\n", "trailing=[blank(2)]"},
            // Empty lines inside scalars belong to the scalars.
            {"a: |\n  x\n\n  y\nb: 1", ""},
            {"a: |\n  x\n\nb: 1", ""},
            {"a: \"x\n\n  y\"\nb: 1", ""},
            {"a: x\n\n  y\nb: 1", ""},
        },
        [](std::string_view text) { return trivia_of(text); });
}

TEST(LoaderTrivia, ACommentOnlySourceIsOneEmptyDocumentHoldingIt) {
    const std::vector<Document> docs = load("# c\n# d\n");
    ASSERT_EQ(docs.size(), 1u);
    EXPECT_FALSE(docs[0].root);
    EXPECT_TRUE(docs[0].nodes.empty());
    EXPECT_EQ(trivia_of(docs), "trailing=[own(# c@0) own(# d@0)]");
}

std::optional<NodeIndex> first_block_scalar(const Document& doc) {
    for (NodeIndex i = 0; i < doc.nodes.size(); ++i)
        if (doc.nodes[i].style == NodeStyle::Literal || doc.nodes[i].style == NodeStyle::Folded)
            return i;
    return std::nullopt;
}

TEST(LoaderScalars, BlockScalarRawTextIsHeaderThenLinesLessOneFinalBreak) {
    const struct {
        std::string_view input;
        std::string_view raw;
        std::string_view header_at;
        std::string_view at;  // the node's own position: its first content character, or its header
    } cases[] = {
        {"a: |\n  x\n  y\n", "|\n  x\n  y", "0:3", "1:2"},
        // Blanks and a comment after the header are not part of it.
        {"a: |-  # c\n  x\n\nb: 1", "|-\n  x\n", "0:3", "1:2"},
        {"a: |\n  x\n\nb: 1", "|\n  x\n", "0:3", "1:2"},
        {"a: |+\n  x\n\n\nb: 1", "|+\n  x\n\n", "0:3", "1:2"},
        {"a: >\n  x\n  y\n\n", ">\n  x\n  y\n", "0:3", "1:2"},
        {"- >+\n  x\n\n", ">+\n  x\n", "0:2", "1:2"},
        {"a: |2-\n   x\n", "|2-\n   x", "0:3", "1:2"},
        {"a: >-1\n  x\n", ">-1\n  x", "0:3", "1:1"},
        // Empty lines before the first content line stay between header and body.
        {"a: |\n\n  x\n", "|\n\n  x", "0:3", "2:2"},
        {"a: |\r\n  x\r\n  y\r\n", "|\r\n  x\r\n  y", "0:3", "1:2"},
        {"a: |\n  x", "|\n  x", "0:3", "1:2"},
        // Blanks that end the text are the scalar's last line, not a next line's indentation.
        {"a: |\n  x\n   ", "|\n  x\n   ", "0:3", "1:2"},
        {"a: !t &x |\n  y", "|\n  y", "0:9", "1:2"},
        // A lone CR is a line break: the final one is not kept either, and
        // the text holds an LF in its place (the line's break is recorded).
        {"a: |+\r  x\r", "|+\n  x", "0:3", "1:2"},
        // Without content lines, blanks before the next line's content are
        // its indentation.
        {"  a: |+\n  b: 1", "|+", "0:5", "0:5"},
        {"  a: |+\n\n  b: 1", "|+\n", "0:5", "0:5"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("input: " + escape(c.input));
        const Document doc = load_one(c.input);
        const std::optional<NodeIndex> i = first_block_scalar(doc);
        ASSERT_TRUE(i);
        const Node& n = doc.nodes[*i];
        EXPECT_EQ(n.raw(), std::string(c.raw));
        EXPECT_EQ(pos_str(n.extras.get().header_at), c.header_at);
        EXPECT_EQ(pos_str(Position{n.line, n.col}), c.at);
    }
}

TEST(LoaderScalars, RawTextIsTheSourceAndAbsentForEmptyScalarsAtAnotherToken) {
    const struct {
        std::string_view input;
        NodeIndex node;
        std::optional<std::string> raw;
    } cases[] = {
        {"a: 'it''s'", 2, "'it''s'"},
        {"a: \"x\\t\n  y\"", 2, "\"x\\t\n  y\""},
        {"a: x\n  y", 2, "x\n  y"},
        {"[ a , b ]", 2, "b"},
        // Nothing was written for these values: their raw text is empty.
        {"key:", 2, ""},
        {"key: ", 2, ""},
        {"-\n- b", 1, ""},
        {"a: &x\nb: 1", 2, ""},
        {"---", 0, ""},
        // These stand at the token that follows them: no raw text.
        {"{a, b: c}", 2, std::nullopt},
        {"[&a , b]", 1, std::nullopt},
        {"{ ? }", 1, std::nullopt},
        {"---\n...", 0, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("input: " + escape(c.input));
        const Document doc = load_one(c.input);
        ASSERT_LT(c.node, doc.nodes.size());
        EXPECT_EQ(doc.nodes[c.node].raw(), c.raw);
    }
}

std::string seps_of(const Document& doc, NodeIndex i) {
    std::string out;
    for (const auto& s : doc.nodes.at(i).extras.get().flow_seps)
        out += (out.empty() ? "'" : " '") + escape(s) + "'";
    return out;
}

TEST(LoaderFlow, SeparatorsHoldEveryGapBetweenTheBrackets) {
    const struct {
        std::string_view input;
        NodeIndex node;
        std::string_view seps;
    } cases[] = {
        {"[a, b]", 0, "'' ', ' ''"},
        {"[ a ,b ]", 0, "' ' ' ,' ' '"},
        {"{a: 1, b: 2}", 0, "'' ': ' ', ' ': ' ''"},
        {"!!seq &s [a]", 0, "'' ''"},
        {"[a, ]", 0, "'' ', '"},
        // Empty collections have the one gap between their brackets.
        {"[]", 0, "''"},
        {"{ }", 0, "' '"},
        // A comment in a gap becomes `#`; its line break stays.
        {"[a, # c\n b]", 0, "'' ', #\\n ' ''"},
        {"[a, # c\r\n b]", 0, "'' ', #\\r\\n ' ''"},
        {"[ # c\n  a]", 0, "' #\\n  ' ''"},
        // Empty scalars written as nothing: the gap runs on past them.
        {"{a, b: c}", 0, "'' ', ' '' ': ' ''"},
        {"{ ? }", 0, "' ? ' '' ''"},
        // A pair without braces whose key has properties.
        {"[ &k a: b ]", 1, "'' ': '"},
        {"[&a , b]", 0, "'' ' , ' ''"},
        // A single-pair mapping in a flow sequence has no brackets: n gaps.
        {"[a: 1]", 1, "'' ': '"},
        {"[a: 1]", 0, "'' ''"},
        {"[? a : b]", 1, "'? ' ' : '"},
        // An empty key's gap ends at its `:`, which stands before the value.
        {"[ : x ]", 1, "'' ': '"},
        {"[:\n #c\n]", 1, "'' ':\\n #\\n'"},
        {"[a: [x, y], b]", 0, "'' ', ' ''"},
        // A pair ends where its value ends: the blanks after the value belong
        // to the sequence's next gap, or no gap would hold them.
        {"[ a: 1 ]", 0, "' ' ' '"},
        {"[a: 1 , b]", 0, "'' ' , ' ''"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("input: " + escape(c.input) + ", node " + std::to_string(c.node));
        EXPECT_EQ(seps_of(load_one(c.input), c.node), c.seps);
    }
}

std::string props_at(const Document& doc, NodeIndex i) {
    const Node& n = doc.nodes.at(i);
    const auto& x = n.extras.get();
    return "anchor=" + pos_str(x.anchor_at) + " tag=" + pos_str(x.tag_at) +
           (n.tag_first ? " tag_first" : "");
}

TEST(LoaderPositions, PropertiesRecordWhereTheyWereWritten) {
    const struct {
        std::string_view input;
        NodeIndex node;
        std::string_view expected;
    } cases[] = {
        {"&a x", 0, "anchor=0:0 tag=-"},
        {"&a !t x", 0, "anchor=0:0 tag=0:3"},
        {"!t &a x", 0, "anchor=0:3 tag=0:0 tag_first"},
        {"- !t\n  &a x", 1, "anchor=1:2 tag=0:2 tag_first"},
        {"k: &a\n  - x", 2, "anchor=0:3 tag=-"},
        {"a: &x\nb: 1", 2, "anchor=0:3 tag=-"},
        {"[&a , b]", 1, "anchor=0:1 tag=-"},
        {"a: !t &x |\n  y", 2, "anchor=0:6 tag=0:3 tag_first"},
        // Only a `&` or `!` that starts a token counts, and comments are skipped.
        {"!a&b &c x", 0, "anchor=0:5 tag=0:0 tag_first"},
        {"&a!b !t x", 0, "anchor=0:0 tag=0:5"},
        {"- # &b !c\n  &a x", 1, "anchor=1:2 tag=-"},
        // A `#` that does not follow white space begins no comment.
        {"- !a:#x &b c", 1, "anchor=0:8 tag=0:2 tag_first"},
        {"- &a x\n- *a", 2, "anchor=- tag=-"},
        {"a: 1", 2, "anchor=- tag=-"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("input: " + escape(c.input));
        EXPECT_EQ(props_at(load_one(c.input), c.node), c.expected);
    }
}

TEST(LoaderPositions, ABlockSequenceStandsAtItsFirstDash) {
    const struct {
        std::string_view input;
        NodeIndex node;
        std::string_view expected;
    } cases[] = {
        {"- a", 0, "0:0"},
        {"k:\n  - a", 2, "1:2"},
        // At its key's indentation, also when an item begins with a `-`.
        {"k:\n- a", 2, "1:0"},
        {"args:\n- --port=80\n- --verbose", 2, "1:0"},
        {"k:\n- - a", 2, "1:0"},
        {"k:\n- - a", 3, "1:2"},
        {"k:\n  - - a", 3, "1:4"},
        {"k:\n- # c\n  x: 1", 2, "1:0"},
        // A value's sequence after a `:` on an item's line begins at its own `-`.
        {"- : - a", 3, "0:4"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("input: " + escape(c.input) + ", node " + std::to_string(c.node));
        const Document doc = load_one(c.input);
        const Node& n = doc.nodes.at(c.node);
        ASSERT_TRUE(std::holds_alternative<kind::Sequence>(n.kind));
        EXPECT_EQ(pos_str(Position{n.line, n.col}), c.expected);
    }
}

// The position of each occurrence of `c` in `text`: lines end at LFs,
// columns count characters.
std::vector<Position> positions_of(std::string_view text, char c) {
    std::vector<Position> out;
    Position at;
    for (const char b : text) {
        if (b == c) out.push_back(at);
        if (b == '\n') {
            at = Position{at.line + 1, 0};
        } else if ((static_cast<unsigned char>(b) & 0xC0) != 0x80) {
            ++at.col;
        }
    }
    return out;
}

TEST(LoaderPositions, ColonsAndPropertiesCountEveryLineBreakAsTheScannerDoes) {
    // The positions of the text with an LF for each lone CR.
    const std::string_view texts[] = {
        "a: 1\r\nb: &x 2\r\n",
        "a: 1\rb: &x 2\r",
        "\xC3\xA9: 1\rb: &x 2",
        "? a # c\r\n: &x b\r\n",
        // A comment ends at its line break, a lone CR included.
        "? a # c\r: &x b\r",
    };
    for (const std::string_view text : texts) {
        SCOPED_TRACE("input: " + escape(text));
        std::string lfs(text);
        for (std::size_t i = 0; i < lfs.size(); ++i) {
            if (lfs[i] == '\r' && (i + 1 == lfs.size() || lfs[i + 1] != '\n')) lfs[i] = '\n';
        }
        const Document doc = load_one(text);
        const std::vector<Position> colons = positions_of(lfs, ':');
        const std::vector<Position> anchors = positions_of(lfs, '&');
        ASSERT_EQ(anchors.size(), 1u);
        const auto* root = std::get_if<kind::Mapping>(&doc.nodes.at(0).kind);
        ASSERT_TRUE(root);
        ASSERT_EQ(root->entries.size(), colons.size());
        for (std::size_t k = 0; k < colons.size(); ++k) {
            EXPECT_EQ(root->entries[k].colon, colons[k]);
        }
        const Node& anchored = doc.nodes.at(root->entries.back().value);
        EXPECT_EQ(anchored.extras.get().anchor_at, anchors[0]);
    }
}

// The markers and directives of each document, documents joined by " | ".
std::string headers(std::string_view text) {
    std::string out;
    bool first = true;
    for (const Document& doc : load(text)) {
        std::string h;
        auto add = [&](const std::string& part) { h += (h.empty() ? "" : " ") + part; };
        if (doc.explicit_start) add("---");
        if (doc.explicit_end) add("...");
        if (doc.version)
            add("v" + std::to_string(doc.version->first) + "." +
                std::to_string(doc.version->second));
        for (const auto& t : doc.tag_directives) add("tag(" + t.handle + " " + t.prefix + ")");
        if (doc.tags_before_version)
            add("before_version=" + std::to_string(doc.tags_before_version));
        if (doc.directives_raw)
            add("raw(\"" + escape(doc.directives_raw->first) + "\"," +
                std::to_string(doc.directives_raw->second) + ")");
        out += (first ? "" : " | ") + h;
        first = false;
    }
    return out;
}

TEST(LoaderDocuments, DirectivesAndMarkersAreKeptPerDocument) {
    expect_rendered(
        {
            {"a", ""},
            {"--- a\n...\n", "--- ..."},
            {"--- a\n--- b", "--- | ---"},
            {"a\n---\nb", " | ---"},
            {"%YAML 1.2\n---\na", "--- v1.2 raw(\"%YAML 1.2\",0)"},
            {"%TAG !e! tag:e,1:\n%YAML 1.2\n%TAG !f! tag:f,1:\n--- a",
             "--- v1.2 tag(!e! tag:e,1:) tag(!f! tag:f,1:) before_version=1 "
             "raw(\"%TAG !e! tag:e,1:\\n%YAML 1.2\\n%TAG !f! tag:f,1:\",0)"},
            // The raw text holds the comment and blank line, which `leading` holds too.
            {"# c\n%YAML 1.2\n\n--- a", "--- v1.2 raw(\"# c\\n%YAML 1.2\\n\",2)"},
            {"%FOO bar\n--- a", "--- raw(\"%FOO bar\",0)"},
            {"%YAML 1.1\n--- a\n...\n--- b", "--- ... v1.1 raw(\"%YAML 1.1\",0) | ---"},
            {"a\n...\n%YAML 1.2\n--- b", "... | --- v1.2 raw(\"%YAML 1.2\",0)"},
            // Repeated `...` lines make no document but are kept as raw text.
            {"a\n...\n...\n--- b", "... | --- raw(\"...\",0)"},
            {"a\n...\n...\n", "... | raw(\"...\",0)"},
            {"a\n...\n# c\n...\n", "... | raw(\"# c\\n...\",1)"},
            // A block scalar's header line belongs to the document, not the raw text.
            {"a\n...\n...\n|\n x\n", "... | raw(\"...\",0)"},
        },
        headers);
}

TEST(LoaderDocuments, ByteOrderMarkIsOnTheFirstDocumentOnly) {
    std::vector<Document> docs = load(
        "\xEF\xBB\xBF"
        "a\n--- b");
    ASSERT_EQ(docs.size(), 2u);
    EXPECT_TRUE(docs[0].bom);
    EXPECT_FALSE(docs[1].bom);
    EXPECT_EQ(pos_str(Position{docs[0].nodes.at(0).line, docs[0].nodes.at(0).col}), "0:0");

    docs = load("\xEF\xBB\xBF");
    ASSERT_EQ(docs.size(), 1u);
    EXPECT_TRUE(docs[0].bom);
    EXPECT_FALSE(load_one("a").bom);
}

// Each document's final line break and stream tail, joined by " | ".
std::string stream_ends(std::string_view text) {
    std::string out;
    for (const Document& doc : load(text))
        out += (out.empty() ? "" : " | ") +
               (doc.final_line_break ? std::string("break")
                                     : "no-break tail=\"" + escape(doc.stream_tail) + "\"");
    return out;
}

TEST(LoaderDocuments, TheStreamEndRecordsTheFinalBreakAndTrailingBlanks) {
    expect_rendered(
        {
            {"", "no-break tail=\"\""},
            {"a: 1\n", "break"},
            {"a: 1\r", "break"},
            {"a: 1\r\n", "break"},
            {"a: 1", "no-break tail=\"\""},
            {"a: 1   ", "no-break tail=\"   \""},
            {"[a]  ", "no-break tail=\"  \""},
            {"a: 1\n  ", "no-break tail=\"\\n  \""},
            // Several line breaks: only the last line's blanks.
            {"a: 1\n\n  ", "no-break tail=\"  \""},
            {"   ", "no-break tail=\"   \""},
            {"a: 1 # c", "no-break tail=\"\""},
            {"a: |\n  x", "no-break tail=\"\""},
            // The block scalar's raw text leaves out its final break.
            {"a: |\n  x\n\t", "no-break tail=\"\\n\\t\""},
            // A lone CR is read as an LF, and written back as a CR.
            {"a: |\n  x\r\t", "no-break tail=\"\\n\\t\""},
            {"# c", "no-break tail=\"\""},
            {"a\n---\nb\n", "no-break tail=\"\" | break"},
        },
        stream_ends);
}

// The first document's `line_space`, by line; other documents must have none.
std::string line_space(std::string_view text) {
    const std::vector<Document> docs = load(text);
    if (docs.empty()) return "<no document>";
    for (std::size_t d = 1; d < docs.size(); ++d)
        if (!docs[d].line_space.empty())
            return "<line_space on document " + std::to_string(d) + ">";
    const std::map<std::uint32_t, std::string> sorted(docs[0].line_space.begin(),
                                                      docs[0].line_space.end());
    std::string out;
    for (const auto& [line, s] : sorted)
        out += (out.empty() ? "" : " ") + std::to_string(line) + "=" + escape(s);
    return out;
}

TEST(LoaderDocuments, LinesWithTabsOrTrailingBlanksAreKeptVerbatim) {
    expect_rendered(
        {
            {"a: x\ty", "0=a: x\\ty"},
            {"a: 1", ""},
            {"a: 1 \nb: 2", "0=a: 1 "},
            {"a: 1\t\r\n", "0=a: 1\\t"},
            {"a: 1 \r\n", "0=a: 1 "},
            {"a: 1\n\r\nb: 2", ""},
            {"  \n", "0=  "},
            {"a: |\n  x \n", "1=  x "},
            {"# c \n", "0=# c "},
            {"a\n--- \nb\t", "1=---  2=b\\t"},
            // A lone CR ends a line too.
            {"a: 1 \rb: x\ty", "0=a: 1  1=b: x\\ty"},
        },
        line_space);
}

}  // namespace
}  // namespace brackle_test
