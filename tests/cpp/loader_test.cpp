// The loader's tree: node order and placement, the root, entries with their
// colon, merge and explicit-key marks, duplicate keys, aliases, node tags,
// load errors with their positions, the empty source, `Node::children` and
// the empty document; and the whole YAML test suite loaded through it.
#include <algorithm>
#include <bit>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "scanner/src/parser.hpp"
#include "tests/cpp/loader_test_util.hpp"
#include "tests/cpp/suite_util.hpp"

namespace brackle_test {
namespace {

// The tree from the root, each collection named with its arena index:
// "map0{a: 1}".
std::string tree_from(const Document& doc, NodeIndex i) {
    const Node& n = doc.nodes.at(i);
    std::string out = node_name(doc, i);
    if (const auto* seq = std::get_if<kind::Sequence>(&n.kind)) {
        out += "[";
        for (std::size_t k = 0; k < seq->items.size(); ++k)
            out += (k ? ", " : "") + tree_from(doc, seq->items[k]);
        return out + "]";
    }
    if (const auto* map = std::get_if<kind::Mapping>(&n.kind)) {
        out += "{";
        for (std::size_t k = 0; k < map->entries.size(); ++k)
            out += (k ? ", " : "") + tree_from(doc, map->entries[k].key) + ": " +
                   tree_from(doc, map->entries[k].value);
        return out + "}";
    }
    return out;
}

std::string tree(std::string_view text) {
    const Document doc = load_one(text);
    if (!doc.root) return "<no root>";
    return tree_from(doc, *doc.root) + " of " + std::to_string(doc.nodes.size());
}

// Nodes stand in the order their text begins, a collection before its
// children, while each collection is placed when it closes.
TEST(LoaderTree, NodesStandInPreOrderUnderTheirParents) {
    expect_rendered(
        {
            {"a: 1", "map0{a: 1} of 3"},
            {"--- x", "x of 1"},
            {"[a, [b]]", "[]0[a, []2[b]] of 4"},
            {"- a\n- {b: c, d: [e]}", "seq0[a, {}2{b: c, d: []6[e]}] of 8"},
            {"? [a]\n: {b: c}", "map0{[]1[a]: {}3{b: c}} of 6"},
            {"a:\n  b:\n    - c\n  d: e\nf: g", "map0{a: map2{b: seq4[c], d: e}, f: g} of 10"},
            {"{a, b: c}", "{}0{a: '', b: c} of 5"},
            {"[? a : b, c: d]", "[]0[{}1{a: b}, {}4{c: d}] of 7"},
        },
        tree);
}

TEST(LoaderTree, EntriesRecordTheirColonMergeKeyAndExplicitKey) {
    expect_rendered(
        {
            {"a: 1", "a=1@0:1"},
            {"{a : 1}", "a=1@0:3"},
            {"{\"a\":1}", "a=1@0:4"},
            // The colon is looked for past blank lines and comments.
            {"? a\n: b", "a=b@1:0 explicit"},
            {"? a # c\n\n# d\n: b", "a=b@3:0 explicit"},
            {"- ? a\n  : b", "a=b@1:2 explicit"},
            // No colon was written for these values.
            {"? a\n? b", "a=''@- explicit, b=''@- explicit"},
            {"{a: 1, b}", "a=1@0:2, b=''@-"},
            {"{? a: b, c: d}", "a=b@0:4 explicit, c=d@0:10"},
            {"a: b\n? c", "a=b@0:1, c=''@- explicit"},
            {"a:\n? c\n: d", "a=''@0:1, c=d@2:0 explicit"},
            // A `?` inside a comment makes no key explicit.
            {"a: 1 # ?\nb: 2", "a=1@0:1, b=2@1:1"},
            {"base: &b {x: 1}\n<<: *b", "base={}2@0:4, <<=*b@1:2 merge"},
            {"&m <<: x", "<<=x@0:5 merge"},
            {"? <<\n: x", "<<=x@1:0 merge explicit"},
            {"!!str <<: x", "<<=x@0:8"},
            {"\"<<\": x", "<<=x@0:4"},
            {"'<<': x", "<<=x@0:4"},
            {"<<<: x", "<<<=x@0:3"},
        },
        entries_of);
}

std::string duplicates(std::string_view text) {
    std::string out;
    for (const Document& doc : load(text))
        for (const auto& d : doc.duplicate_keys)
            out += (out.empty() ? "" : ", ") + d.key + " " + pos_str(d.previous) + ">" +
                   pos_str(d.duplicate);
    return out;
}

TEST(LoaderTree, RepeatedKeysOfOneMappingAreListedWithBothPlaces) {
    expect_rendered(
        {
            {"{a: 1, a: 2, a: 3}", "a 0:1>0:7, a 0:7>0:13"},
            {"a: 1\nb: 2\na: 3\na: 4", "a 0:0>2:0, a 2:0>3:0"},
            // Keys compare by value, whatever their style.
            {"a: 1\n'a': 2\n\"a\": 3", "a 0:0>1:0, a 1:0>2:0"},
            {"1: a\n01: b", ""},
            {"a: 1\nb:\n  a: 2", ""},
            {"a: {x: 1, x: 2}\nb: 1\nb: 2", "x 0:4>0:10, b 1:0>2:0"},
            // Collection keys compare by their text without blanks.
            {"? [a, b]\n: x\n? [a,b]\n: y", "[a,b] 0:2>2:2"},
            {"? - a\n  - b\n: 1\n? [a, b]\n: 2", "[a,b] 0:2>3:2"},
            {"? ['a']\n: 1\n? [a]\n: 2", "[a] 0:2>2:2"},
            {"? {x: 1}\n: a\n? {x: 1}\n: b", "{x:1} 0:2>2:2"},
            {"? {a: [b, c]}\n: 1\n? {a: [b,c]}\n: 2", "{a:[b,c]} 0:2>2:2"},
            {"? [a, b]\n: x\n? [a, c]\n: y", ""},
            // Aliases are the same key when they name the same anchor.
            {"- &k a\n- {*k : 1, *k : 2}", "*k 1:3>1:11"},
        },
        duplicates);
}

// Past a few keys the mapping's keys are looked up in a table rather than
// in order; repeats are found there too, whether they come early or late.
TEST(LoaderTree, RepeatedKeysAreFoundAmongManyKeys) {
    std::string text;
    for (int i = 0; i < 40; ++i) text += "k" + std::to_string(i) + ": 1\n";
    text += "k3: 2\nk39: 2\nk3: 3\n";
    EXPECT_EQ(duplicates(text), "k3 3:0>40:0, k39 39:0>41:0, k3 40:0>42:0");
}

// Keys are found by a hash of their text first. Two texts with the same
// hash (the Thue-Morse pair below defeats any 64-bit polynomial hash) are
// still told apart, and a repeat of either is still found.
TEST(LoaderTree, KeysWhoseHashesCollideAreToldApartByTheirText) {
    std::string first;
    std::string second;
    for (std::size_t i = 0; i < 2048; ++i) {
        const bool bit = std::popcount(i) % 2 == 1;
        first += bit ? 'b' : 'a';
        second += bit ? 'a' : 'b';
    }
    // Explicit keys: an implicit one may not run past 1024 characters.
    const std::string text = "? " + first + "\n: 1\n? " + second + "\n: 2\n? " + second + "\n: 3\n";
    EXPECT_EQ(duplicates(text), second + " 2:2>4:2");
}

// Keys nested in keys cost no more than their size: each key's text is only
// built when it may repeat an earlier one.
TEST(LoaderTree, DeeplyNestedKeysLoadInLinearTime) {
    std::string text;
    for (int i = 0; i < 100000; ++i) text += "? ";
    text += "a\n";
    const std::vector<Document> docs = load(text);
    ASSERT_EQ(docs.size(), 1u);
    EXPECT_EQ(docs[0].nodes.size(), 200001u);
    EXPECT_TRUE(docs[0].duplicate_keys.empty());
}

// Each node's text as the spans handed out on request cut it, a document's
// nodes in arena order and documents apart.
std::string spans_of(std::string_view text) {
    brackle_core::SourceSpans where;
    auto result = brackle_core::loader::parse(text, &where);
    const brackle_core::NodeSpans& spans = where.nodes;
    if (std::holds_alternative<ParseError>(result)) return "<error>";
    const auto& docs = std::get<std::vector<Document>>(result);
    if (docs.size() != spans.size()) return "<one list per document expected>";
    std::string out;
    for (std::size_t d = 0; d < spans.size(); ++d) {
        if (spans[d].size() != 2 * docs[d].nodes.size()) return "<two places per node expected>";
        out += d ? " |" : "";
        for (std::size_t i = 0; i < spans[d].size(); i += 2)
            out +=
                " [" + std::string(text.substr(spans[d][i], spans[d][i + 1] - spans[d][i])) + "]";
    }
    return out;
}

TEST(LoaderTree, NodeSpansCutEachNodesTextPerDocument) {
    expect_rendered(
        {
            {"a: [b, c]  # n\n", " [a: [b, c]] [a] [[b, c]] [b] [c]"},
            {"- &x 'q'\n- *x\n", " [- &x 'q'\n- *x] ['q'] [*x]"},
            {"k: |\n  t\n\nn:\n", " [k: |\n  t\n\nn:] [k] [t\n\n] [n] []"},
            {"a\n---\n# only\n", " [a] | []"},
        },
        spans_of);
}

// Each document's text as the document starts cut the source.
std::string documents_of(std::string_view text) {
    brackle_core::SourceSpans where;
    where.with_nodes = false;
    auto result = brackle_core::loader::parse(text, &where);
    if (std::holds_alternative<ParseError>(result)) return "<error>";
    const std::vector<std::size_t>& starts = where.document_starts;
    if (std::get<std::vector<Document>>(result).size() != starts.size() || !where.nodes.empty())
        return "<one start per document and no node spans expected>";
    std::string out;
    for (std::size_t d = 0; d < starts.size(); ++d) {
        const std::size_t end = d + 1 < starts.size() ? starts[d + 1] : text.size();
        out += "[" + std::string(text.substr(starts[d], end - starts[d])) + "]";
    }
    return out;
}

TEST(LoaderTree, DocumentStartsCutTheTextBetweenDocumentsWithTheLaterOne) {
    expect_rendered(
        {
            {"a\n---\nb\n", "[a\n][---\nb\n]"},
            {"a: 1 # c\n# between\n\n--- b", "[a: 1 # c\n][# between\n\n--- b]"},
            {"a\n...\n# c\n%YAML 1.2\n---\nb\n", "[a\n...\n][# c\n%YAML 1.2\n---\nb\n]"},
            {"--- |\n  t\n--- x\n", "[--- |\n  t\n][--- x\n]"},
            {"a\n...\nb\n", "[a\n...\n][b\n]"},
            {"a\n---\n# only\n", "[a\n][---\n# only\n]"},
            {"a\n...\n# tail\n", "[a\n...\n# tail\n]"},
            {"# only\n", "[# only\n]"},
        },
        documents_of);
}

TEST(LoaderTree, AliasNodesKeepOnlyTheName) {
    const Document doc = load_one("- &a x\n- *a");
    ASSERT_EQ(doc.nodes.size(), 3u);
    const Node& alias = doc.nodes[2];
    ASSERT_TRUE(std::holds_alternative<kind::Alias>(alias.kind));
    EXPECT_EQ(std::get<kind::Alias>(alias.kind).name, "a");
    EXPECT_EQ(alias.style, NodeStyle::Block);
    EXPECT_EQ(pos_str(Position{alias.line, alias.col}), "1:2");
    EXPECT_FALSE(alias.value() || alias.raw() || alias.extras.get().anchor ||
                 alias.extras.get().tag);
    EXPECT_TRUE(alias.children().empty());

    // The anchor table spans the stream: the alias names an earlier document's anchor.
    const std::vector<Document> docs = load("--- &a x\n--- *a");
    ASSERT_EQ(docs.size(), 2u);
    ASSERT_EQ(docs[1].nodes.size(), 1u);
    EXPECT_EQ(node_name(docs[1], 0), "*a");
}

// Every node tag of every document, as handle|suffix|full.
std::string tags(std::string_view text) {
    std::string out;
    for (const Document& doc : load(text))
        for (const Node& n : doc.nodes)
            if (const auto& t = n.extras.get().tag)
                out += (out.empty() ? "" : ", ") + t->handle + "|" + t->suffix + "|" + t->full;
    return out;
}

TEST(LoaderTree, NodeTagsGetTheHandleToWriteThemWith) {
    expect_rendered(
        {
            {"%TAG !e! tag:x,1:\n--- !e!y v", "!e!|y|tag:x,1:y"},
            {"!x v", "!|x|!x"},
            {"!!str v", "!!|str|tag:yaml.org,2002:str"},
            {"!!map {a: !!int 1}", "!!|map|tag:yaml.org,2002:map, !!|int|tag:yaml.org,2002:int"},
            {"! v", "|!|!"},
            {"!<tag:a,1:b> v", "|tag:a,1:b|tag:a,1:b"},
            {"%TAG !e! tag:x,1:\n--- !<tag:x,1:y> v", "|tag:x,1:y|tag:x,1:y"},
            // The handle comes from the resolved prefix: "!" first, then the
            // first directive with that prefix, then the standard "!!".
            {"%TAG !e! !\n--- !e!x v", "!|x|!x"},
            {"%TAG !e! tag:yaml.org,2002:\n--- !!str v", "!e!|str|tag:yaml.org,2002:str"},
            {"%TAG !e! a:\n%TAG !f! a:\n--- !f!x v", "!e!|x|a:x"},
            {"%TAG !! p:\n--- !!x v", "!!|x|p:x"},
            {"%TAG !e! a:\n--- !e!x 1\n...\n%TAG !e! b:\n--- !e!x 2", "!e!|x|a:x, !e!|x|b:x"},
        },
        tags);
}

std::string load_error(std::string_view text) {
    auto result = brackle_core::loader::parse(text);
    const ParseError* e = std::get_if<ParseError>(&result);
    if (!e) return "<no error>";
    return e->message + " @ " + std::to_string(e->index) + " " + std::to_string(e->line) + ":" +
           std::to_string(e->col) + (e->internal ? " internal" : "");
}

TEST(LoaderErrors, CarryTheMessageCharacterIndexAndZeroBasedPosition) {
    expect_rendered(
        {
            {"!e!x v", "the handle wasn't declared @ 0 0:0"},
            {"a: *x", "while parsing node, found unknown anchor @ 3 0:3"},
            {"a: 1\nb: !e!x v", "the handle wasn't declared @ 8 1:3"},
            // The index counts characters, not bytes.
            {"\xC3\xA9: 1\nb: !e!x v", "the handle wasn't declared @ 8 1:3"},
            // The scanner's lines, where a lone CR ends a line too.
            {"a: 1\rb: !e!x v", "the handle wasn't declared @ 8 1:3"},
            {"- a\nb: c",
             "while parsing a block collection, did not find expected '-' indicator @ 4 1:0"},
            // Documents loaded before the error are dropped with it.
            {"a\n---\nb: *x", "while parsing node, found unknown anchor @ 9 2:3"},
        },
        load_error);
}

// Bytes that are not UTF-8 are a fault of the input, not a broken invariant:
// the scanner's error, at the first bad byte, ends the load.
TEST(LoaderErrors, TextThatIsNotUtf8FailsAtItsFirstBadByte) {
    expect_rendered(
        {
            {"a: 1\nb: \xC0\x80", "found bytes that are not valid UTF-8 @ 8 1:3"},
            {"\xC3\xA9: \xED\xA0\x80", "found bytes that are not valid UTF-8 @ 3 0:3"},
            {"a: |\n  x\n  \xF4\x90\x80\x80\n", "found bytes that are not valid UTF-8 @ 11 2:2"},
            // Counted after a leading byte-order mark, as every error is.
            {"\xEF\xBB\xBF"
             "a: \x80",
             "found bytes that are not valid UTF-8 @ 3 0:3"},
            // Documents before the bad byte are dropped with it.
            {"a\n---\nb\n---\n\xFF", "found bytes that are not valid UTF-8 @ 12 4:0"},
        },
        load_error);
}

TEST(LoaderDocuments, AnEmptySourceIsOneEmptyDocument) {
    const std::vector<Document> docs = load("");
    ASSERT_EQ(docs.size(), 1u);
    EXPECT_EQ(docs[0], Document{});
}

TEST(DocumentModel, AValueInitialisedDocumentIsEmpty) {
    const Document doc{};
    EXPECT_TRUE(doc.nodes.empty());
    EXPECT_FALSE(doc.root);
    EXPECT_TRUE(doc.tag_directives.empty());
    EXPECT_FALSE(doc.version);
    EXPECT_EQ(doc.tags_before_version, 0u);
    EXPECT_FALSE(doc.directives_raw);
    EXPECT_FALSE(doc.explicit_start || doc.explicit_end || doc.bom || doc.final_line_break);
    EXPECT_TRUE(doc.leading.empty() && doc.trailing.empty() && doc.stream_tail.empty());
    EXPECT_TRUE(doc.line_space.empty() && doc.duplicate_keys.empty());
}

TEST(DocumentModel, ScalarTextsCopyMoveAndCompareByTheirText) {
    const std::string long_text(100, 'x');
    for (const std::string_view text :
         {std::string_view(""), std::string_view("fifteen bytes!!"),
          std::string_view("sixteen bytes!!!"), std::string_view(long_text)}) {
        SCOPED_TRACE(text.size());
        ScalarText owned(text);
        EXPECT_TRUE(owned.has_value());
        EXPECT_FALSE(owned.is_view());
        EXPECT_EQ(*owned, text);
        ScalarText copy = owned;
        EXPECT_EQ(copy, owned);
        const ScalarText moved = std::move(copy);
        EXPECT_EQ(*moved, text);
        EXPECT_FALSE(copy.has_value());
        ScalarText viewed = ScalarText::view_of(text);
        EXPECT_TRUE(viewed.is_view());
        EXPECT_EQ(viewed, owned);
        viewed.own_view();
        EXPECT_FALSE(viewed.is_view());
        EXPECT_EQ(viewed, owned);
    }
    // Absent is not the empty text.
    EXPECT_NE(ScalarText(), ScalarText(""));
    EXPECT_EQ(ScalarText(), std::optional<std::string>());
    EXPECT_NE(ScalarText(""), std::optional<std::string>());
}

// A loaded scalar's texts view the source where they stand in it whole; a
// text the loader had to build is the scalar's own.
TEST(DocumentModel, ScalarTextsViewTheSourceWhereTheyStandInIt) {
    const struct {
        std::string_view input;
        bool raw_viewed;
        bool value_viewed;
    } cases[] = {
        {"a plain scalar of some length", true, true},
        {"'quoted, of some length too'", true, true},
        {"\"escaped\\tdouble quotes here\"", true, false},
        {"a plain scalar\n  over two lines", true, false},
        {"|\n  a literal block of some length\n", true, false},
        {"| # a comment after the header\n  text\n", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(escape(c.input));
        const Document doc = load_one(c.input);
        const Node& n = doc.nodes.at(*doc.root);
        EXPECT_EQ(n.raw().is_view(), c.raw_viewed);
        EXPECT_EQ(n.value().is_view(), c.value_viewed);
    }
}

// `parse` gives documents their own copy of the source, kept by every copy
// of them; grafted nodes take their texts along.
TEST(DocumentModel, LoadedDocumentsOutliveTheirSourceText) {
    auto source = std::make_unique<std::string>(
        "key of some length: 'a quoted value of some length'\nblock: |\n  literal text of some "
        "length\n");
    auto loaded = brackle_core::loader::parse(*source);
    std::fill(source->begin(), source->end(), '?');
    source.reset();
    std::vector<Document> docs = std::move(std::get<std::vector<Document>>(loaded));
    ASSERT_EQ(docs.size(), 1u);
    auto copy = std::make_unique<Document>(docs[0]);
    docs.clear();
    Document into;
    const NodeIndex root = brackle_core::graft(into, *copy);
    copy.reset();
    const auto& entries = std::get<kind::Mapping>(into.nodes.at(root).kind).entries;
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(*into.nodes[entries[0].key].value(), "key of some length");
    EXPECT_EQ(*into.nodes[entries[0].value].value(), "a quoted value of some length");
    EXPECT_EQ(*into.nodes[entries[0].value].raw(), "'a quoted value of some length'");
    EXPECT_EQ(*into.nodes[entries[1].value].value(), "literal text of some length\n");
}

TEST(DocumentModel, ChildrenListKeysAndValuesAlternately) {
    const struct {
        std::string_view input;
        NodeIndex node;
        std::vector<NodeIndex> children;
    } cases[] = {
        {"{a: 1, b: 2}", 0, {1, 2, 3, 4}}, {"[x, [y]]", 0, {1, 2}}, {"{}", 0, {}}, {"a", 0, {}},
        {"- &a x\n- *a", 2, {}},  // an alias refers to a node but has no child
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(escape(c.input));
        const Document doc = load_one(c.input);
        ASSERT_LT(c.node, doc.nodes.size());
        EXPECT_EQ(doc.nodes[c.node].children(), c.children);
    }
    // Children follow the entries, not the arena.
    Node map;
    map.kind = kind::Mapping{{Entry{5, 3, {}, false, false}, Entry{1, 9, {}, false, false}}};
    EXPECT_EQ(map.children(), (std::vector<NodeIndex>{5, 3, 1, 9}));
    Node seq;
    seq.kind = kind::Sequence{{4, 2}};
    EXPECT_EQ(seq.children(), (std::vector<NodeIndex>{4, 2}));
}

// ---- the YAML test suite ----------------------------------------------------

std::size_t count_prefixed(std::string_view text, std::initializer_list<std::string_view> words) {
    std::size_t n = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t lf = std::min(text.find('\n', at), text.size());
        const std::string_view line = text.substr(at, lf - at);
        for (std::string_view w : words) n += line.starts_with(w);
        at = lf + 1;
    }
    return n;
}

std::size_t comment_events(std::string_view text) {
    brackle_scanner::Parser parser(text);
    brackle_scanner::Event ev;
    std::size_t n = 0;
    while (parser.next_event(ev) && ev.type != brackle_scanner::EventType::StreamEnd)
        n += ev.type == brackle_scanner::EventType::Comment;
    return n;
}

std::size_t comments_in(const std::vector<Trivia>& list) {
    std::size_t n = 0;
    for (const Trivia& t : list) n += std::holds_alternative<Comment>(t);
    return n;
}

// What is wrong with the shape of a loaded document, or empty.
std::string shape_fault(const Document& doc, std::size_t& comments) {
    comments += comments_in(doc.leading) + comments_in(doc.trailing);
    if (!doc.root) return doc.nodes.empty() ? "" : "nodes without a root";
    // A pre-order walk from the root must meet every node once, in arena order.
    std::vector<NodeIndex> stack{*doc.root};
    NodeIndex expected = 0;
    while (!stack.empty()) {
        const NodeIndex i = stack.back();
        stack.pop_back();
        if (i != expected)
            return "node " + std::to_string(i) + " where " + std::to_string(expected) + " was due";
        ++expected;
        const Node& n = doc.nodes.at(i);
        const std::vector<NodeIndex> children = n.children();
        stack.insert(stack.end(), children.rbegin(), children.rend());
        const auto& x = n.extras.get();
        for (const auto* list : {&slots(n).before, &slots(n).inner, &slots(n).after}) {
            comments += comments_in(*list);
            for (const Trivia& t : *list)
                if (const auto* b = std::get_if<Blank>(&t); b && b->blank_lines == 0)
                    return "a blank run of 0 lines";
        }
        comments += slots(n).eol && std::holds_alternative<Comment>(*slots(n).eol);
        if (std::holds_alternative<kind::Alias>(n.kind) &&
            (x.anchor || x.tag || n.value() || n.raw()))
            return "an alias with properties or text";
        const std::size_t seps = x.flow_seps.size();
        if (n.style != NodeStyle::Flow
                ? seps != 0
                : seps != 0 && seps != children.size() + 1 &&
                      !(seps == children.size() && std::holds_alternative<kind::Mapping>(n.kind)))
            return "node " + std::to_string(i) + " has " + std::to_string(seps) + " separators";
    }
    if (expected != doc.nodes.size()) return "nodes not reached from the root";
    return "";
}

TEST(LoaderSuite, RejectedInputsFailAndAcceptedOnesLoadWhole) {
    if (const std::string reason = suite_missing_reason(); !reason.empty()) GTEST_SKIP() << reason;
    std::size_t rejected = 0, loaded = 0;
    for (const auto& c : suite_cases()) {
        SCOPED_TRACE(c.id);
        const std::string text = read_file(c.dir / "in.yaml");
        auto result = brackle_core::loader::parse(text);
        if (c.must_fail) {
            const ParseError* error = std::get_if<ParseError>(&result);
            if (!error) {
                ADD_FAILURE() << "loads, but the suite rejects it";
            } else {
                EXPECT_FALSE(error->internal) << error->message;
                ++rejected;
            }
            continue;
        }
        if (const ParseError* error = std::get_if<ParseError>(&result)) {
            ADD_FAILURE() << "fails: " << error->message << " @ " << error->line << ":"
                          << error->col;
            continue;
        }
        ++loaded;
        const auto& docs = std::get<std::vector<Document>>(result);
        std::size_t nodes = 0, comments = 0;
        for (const Document& doc : docs) {
            nodes += doc.nodes.size();
            EXPECT_EQ(shape_fault(doc, comments), "");
        }
        if (fs::exists(c.dir / "test.event")) {
            const std::string events = read_file(c.dir / "test.event");
            // One node per node event; one document per document, or one
            // empty document for an empty stream.
            EXPECT_EQ(nodes, count_prefixed(events, {"+SEQ", "+MAP", "=VAL", "=ALI"}));
            const std::size_t expected_docs = count_prefixed(events, {"+DOC"});
            const bool extra_tail =
                docs.size() == expected_docs + 1 && !docs.back().root && docs.back().directives_raw;
            EXPECT_TRUE(docs.size() == std::max<std::size_t>(expected_docs, 1) || extra_tail)
                << docs.size() << " documents for " << expected_docs;
        }
        // No comment is lost or counted twice.
        EXPECT_EQ(comments, comment_events(text));
    }
    std::cout << "[ suite    ] loaded " << loaded << " accepted and rejected " << rejected
              << " inputs\n";
    EXPECT_GT(loaded, 200u) << "suite at " << suite_dir() << " looks incomplete";
}

// A reader hands out the documents `parse` gives, one at a time, with the
// same trees; where `parse` fails it fails with the same error, after the
// documents finished before it.
TEST(LoaderSuite, AReaderGivesTheDocumentsOfParseOneAtATime) {
    if (const std::string reason = suite_missing_reason(); !reason.empty()) GTEST_SKIP() << reason;
    for (const auto& c : suite_cases()) {
        SCOPED_TRACE(c.id);
        const std::string text = read_file(c.dir / "in.yaml");
        const auto whole = brackle_core::loader::parse(text);
        brackle_core::loader::Reader reader(text);
        std::vector<Document> read;
        while (std::optional<Document> doc = reader.next()) read.push_back(std::move(*doc));
        if (const ParseError* error = std::get_if<ParseError>(&whole)) {
            ASSERT_TRUE(reader.error().has_value());
            EXPECT_EQ(*reader.error(), *error);
            continue;
        }
        EXPECT_FALSE(reader.error().has_value()) << reader.error()->message;
        EXPECT_TRUE(reader.at_end());
        const auto& docs = std::get<std::vector<Document>>(whole);
        ASSERT_EQ(read.size(), docs.size());
        for (std::size_t i = 0; i < docs.size(); ++i) {
            EXPECT_EQ(read[i].root.has_value(), docs[i].root.has_value());
            if (docs[i].root && read[i].root) {
                EXPECT_EQ(tree_from(read[i], *read[i].root), tree_from(docs[i], *docs[i].root));
            }
        }
    }
}

TEST(LoaderReader, DocumentsBeforeAnErrorComeFirst) {
    brackle_core::loader::Reader reader("--- a\n--- b\n--- [\n");
    std::vector<std::string> trees;
    while (std::optional<Document> doc = reader.next())
        trees.push_back(tree_from(*doc, *doc->root));
    EXPECT_EQ(trees, (std::vector<std::string>{"a", "b"}));
    ASSERT_TRUE(reader.error().has_value());
    EXPECT_EQ(reader.error()->line, 3u);
    EXPECT_FALSE(reader.at_end());
}

}  // namespace
}  // namespace brackle_test
