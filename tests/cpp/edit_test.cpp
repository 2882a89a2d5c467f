// The edit engine: each edit's first candidate changes only the edited
// child's lines, comments are read and written where they stand, and what
// cannot be written is an error value.
#include "brackle/edit.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "scanner/src/char_traits.hpp"

namespace {

using brackle_core::Document;
using brackle_core::Node;
using brackle_core::NodeStyle;
using brackle_core::edit::Candidates;
using brackle_core::edit::EditError;
using brackle_core::edit::Editor;
using brackle_core::edit::NewValue;
namespace kind = brackle_core::kind;

Editor read(const std::string& text) {
    auto read = Editor::read(text);
    EXPECT_TRUE(std::holds_alternative<Editor>(read)) << text;
    return std::get<Editor>(std::move(read));
}

// A string as the data path represents it: its style left to the emitter.
NewValue string_value(const std::string& s) {
    NewValue v;
    Node n;
    n.kind = kind::Scalar{s, std::nullopt};
    n.style = s.find('\n') == std::string::npos ? NodeStyle::Block : NodeStyle::Literal;
    v.document.nodes.push_back(std::move(n));
    v.document.root = 0;
    return v;
}

// A new item, or a new entry under `key`.
Candidates insert(const Editor& e, brackle_core::NodeIndex c, std::size_t pos,
                  const std::string& value, const std::optional<std::string>& key = {}) {
    const NewValue k = string_value(key.value_or(""));
    return e.insert_child(c, pos, string_value(value), key ? &k.document : nullptr);
}

std::string first(const Candidates& c) {
    if (const auto* e = std::get_if<EditError>(&c)) return "error: " + e->message;
    const auto& texts = std::get<std::vector<std::string>>(c);
    return texts.empty() ? "<none>" : texts.front();
}

TEST(EditEngine, EachEditWritesOnlyItsOwnLines) {
    const struct {
        std::string text;
        std::function<Candidates(const Editor&)> edit;
        std::string expected;
    } cases[] = {
        {"a: 1  # one\nb: 2\n",
         [](const Editor& e) { return e.set_child(0, 0, string_value("x")); },
         "a: x  # one\nb: 2\n"},
        {"k: 'q'\n", [](const Editor& e) { return e.set_child(0, 0, string_value("new")); },
         "k: 'new'\n"},
        {"a: # eol\n  v\n", [](const Editor& e) { return e.set_child(0, 0, string_value("w")); },
         "a: # eol\n  w\n"},
        {"run: make\n",
         [](const Editor& e) { return e.set_child(0, 0, string_value("make\ntest\n")); },
         "run: |\n  make\n  test\n"},
        {"args:\n- --a\n- --b\n", [](const Editor& e) { return insert(e, 2, 2, "--c"); },
         "args:\n- --a\n- --b\n- --c\n"},
        {"a: 1\n# about b\nb: 2\n", [](const Editor& e) { return insert(e, 0, 1, "9", "x"); },
         "a: 1\nx: '9'\n# about b\nb: 2\n"},
        {"a: 1\n\n# about b\nb: 2  # two\nc: 3\n",
         [](const Editor& e) { return e.delete_child(0, 1); }, "a: 1\n\nc: 3\n"},
        {"[a, b, c]\n", [](const Editor& e) { return e.delete_child(0, 1); }, "[a, c]\n"},
        {"k: [a]\n", [](const Editor& e) { return insert(e, 2, 1, "b"); }, "k: [a, b]\n"},
        {"a: 1\r\n", [](const Editor& e) { return insert(e, 0, 1, "c", "b"); }, "a: 1\r\nb: c\r\n"},
        {"--- x\n", [](const Editor& e) { return e.replace_root(string_value("y"), true); },
         "--- y\n"},
        {"? k\n", [](const Editor& e) { return e.set_child(0, 0, string_value("v")); },
         "? k\n: v\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const Editor e = read(c.text);
        EXPECT_EQ(first(c.edit(e)), c.expected);
    }
}

TEST(EditEngine, CommentsAreReadAndWrittenWhereTheyStand) {
    const Editor e = read("# about a\n# more\na: 1  # one\nb: 2\n");
    EXPECT_EQ(e.eol_comment(0, 0), std::optional<std::string>("one"));
    EXPECT_EQ(e.eol_comment(0, 1), std::nullopt);
    EXPECT_EQ(e.comments_before(0, 0), (std::vector<std::string>{"about a", "more"}));
    EXPECT_EQ(first(e.set_eol_comment(0, 0, "uno")), "# about a\n# more\na: 1  # uno\nb: 2\n");
    EXPECT_EQ(first(e.set_eol_comment(0, 1, "two")),
              "# about a\n# more\na: 1  # one\nb: 2  # two\n");
    EXPECT_EQ(first(e.set_eol_comment(0, 0, std::nullopt)), "# about a\n# more\na: 1\nb: 2\n");
    EXPECT_EQ(first(e.set_comments_before(0, 1, {"b", ""})),
              "# about a\n# more\na: 1  # one\n# b\n#\nb: 2\n");
    EXPECT_EQ(first(e.set_comments_before(0, 0, {})), "a: 1  # one\nb: 2\n");
}

TEST(EditEngine, WhatCannotBeWrittenIsAnErrorValue) {
    EXPECT_TRUE(std::holds_alternative<brackle_core::ParseError>(Editor::read("a: [1\n")));
    EXPECT_EQ(first(read("- a: 1\n").set_comments_before(1, 0, {"c"})),
              "error: comments cannot go above an entry that shares its line");
    EXPECT_EQ(first(read("a\n...\n").replace_root(string_value("b"), true)), "b\n...\n");
    EXPECT_EQ(first(read("# only\n").replace_root(string_value("b"), false)),
              "error: only the last document of a stream can take a root where it has none");
}

// Each edit of each child gives candidates of well-formed UTF-8, or an error.
void every_edit(const Editor& e) {
    const Document& doc = e.document();
    const NewValue k = string_value("k");
    for (std::size_t i = 0; i < doc.nodes.size(); ++i) {
        const auto c = static_cast<brackle_core::NodeIndex>(i);
        std::size_t count = 0;
        if (const auto* seq = std::get_if<kind::Sequence>(&doc.nodes[i].kind)) {
            count = seq->items.size();
        } else if (const auto* map = std::get_if<kind::Mapping>(&doc.nodes[i].kind)) {
            count = map->entries.size();
        }
        const Document* key =
            std::holds_alternative<kind::Mapping>(doc.nodes[i].kind) ? &k.document : nullptr;
        for (std::size_t pos = 0; pos < count; ++pos) {
            for (const Candidates& result :
                 {e.set_child(c, pos, string_value("x")),
                  e.insert_child(c, pos, string_value("y"), key), e.delete_child(c, pos)}) {
                if (const auto* texts = std::get_if<std::vector<std::string>>(&result)) {
                    for (const std::string& t : *texts)
                        EXPECT_TRUE(brackle_scanner::is_valid_utf8(t));
                }
            }
        }
    }
}

TEST(EditEngine, TextsTheFuzzerBrokeGiveCandidatesOrAnError) {
    // The only child of a flow collection, deleted.
    EXPECT_EQ(first(read("{\"foo\"\n: \"bar\"}\n").delete_child(0, 0)), "{}\n");
    // A child that runs to the end of a text without a final line break,
    // deleted after a byte-order mark: the mark stays whole.
    EXPECT_EQ(first(read("\xEF\xBB\xBFk:\n  x: 1").delete_child(0, 0)), "\xEF\xBB\xBF");
    for (const char* text : {
             "\xEF\xBB\xBF;)- e: gree",
             "- &a\r- ab\n-\t  ;c : &aa\n- ab\n-\t  ;c :&d\n-\n  ? \n-\n !? &d\n-\n  ? &e\n  : "
             "&a\n",
             // A lone CR ends a line for the loader: positions count it so.
             "- | # c\r x\n- >1 # d\r  folded\n- \xE2\x86\x93\r y\n",
         }) {
        SCOPED_TRACE(text);
        const Editor e = read(text);
        every_edit(e);
        const Candidates root = e.replace_root(string_value("r"), true);
        EXPECT_TRUE(std::holds_alternative<std::vector<std::string>>(root));
    }
}

}  // namespace
