// Fuzz target: the edit engine, on a text that loads as one document, gives
// every edit of every child (a few children at most per input) as candidate
// texts or an error value: never a crash, a hang or a bad read, and every
// candidate is well-formed UTF-8.
#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "brackle/edit.hpp"
#include "fuzz/fuzz_input.hpp"

namespace {

using brackle_core::Document;
using brackle_core::Node;
using brackle_core::NodeIndex;
using brackle_core::NodeStyle;
using brackle_core::edit::Candidates;
using brackle_core::edit::Editor;
using brackle_core::edit::NewValue;

// How many children an input's edits reach, so that a long input stays fast.
constexpr std::size_t max_children = 16;

NewValue string_value(const std::string& s) {
    NewValue v;
    Node n;
    n.kind = brackle_core::kind::Scalar{s, std::nullopt};
    n.style = s.find('\n') == std::string::npos ? NodeStyle::Block : NodeStyle::Literal;
    v.document.nodes.push_back(std::move(n));
    v.document.root = 0;
    return v;
}

void check(const Candidates& c) {
    if (const auto* texts = std::get_if<std::vector<std::string>>(&c)) {
        for (const std::string& t : *texts) {
            if (!brackle_scanner::is_valid_utf8(t)) __builtin_trap();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto text = brackle_fuzz::utf8_text(data, size);
    if (!text) return 0;
    auto read = Editor::read(std::string(*text));
    auto* editor = std::get_if<Editor>(&read);
    if (editor == nullptr || editor->documents().size() != 1) return 0;
    const Document& doc = editor->document();
    const NewValue scalar = string_value("x: y");
    const NewValue lines = string_value("two\nlines\n");
    const NewValue flow = [] {
        NewValue v = string_value("f");
        v.flow = true;
        return v;
    }();
    const NewValue key = string_value("k");
    check(editor->replace_root(scalar, true));
    std::size_t reached = 0;
    for (std::size_t i = 0; i < doc.nodes.size() && reached < max_children; ++i) {
        const Node& n = doc.nodes[i];
        const auto c = static_cast<NodeIndex>(i);
        std::size_t count = 0;
        const Document* entry_key = nullptr;
        if (const auto* seq = std::get_if<brackle_core::kind::Sequence>(&n.kind)) {
            count = seq->items.size();
        } else if (const auto* map = std::get_if<brackle_core::kind::Mapping>(&n.kind)) {
            count = map->entries.size();
            entry_key = &key.document;
        } else {
            continue;
        }
        check(editor->insert_child(c, count, scalar, entry_key));
        for (std::size_t pos = 0; pos < count && reached < max_children; ++pos, ++reached) {
            for (const NewValue* v : {&scalar, &lines, &flow}) check(editor->set_child(c, pos, *v));
            check(editor->insert_child(c, pos, lines, entry_key));
            check(editor->delete_child(c, pos));
            check(editor->set_eol_comment(c, pos, "note"));
            check(editor->set_eol_comment(c, pos, std::nullopt));
            check(editor->set_comments_before(c, pos, {"a", ""}));
            (void)editor->eol_comment(c, pos);
            (void)editor->comments_before(c, pos);
            (void)editor->child_lines(c, pos);
        }
    }
    return 0;
}
