// Helpers for the loader tests: load a text, name its nodes, and render
// trivia, positions and entries compactly, so that an expectation reads as
// one line.
//
// Rendering:
//   nodes       a scalar by its value ('' when empty), an alias as *name, a
//               collection by kind and arena index: map0 seq3 (block), {}1 []2 (flow)
//   trivia      own(# c@0) a comment on its own line, trail(# c@6) one that
//               follows content (text@column), blank(2) a run of empty lines
//   slots       name.before=[...] name.eol=... name.inner=[...] name.after=[...],
//               leading=[...] and trailing=[...] for a document; empty slots are
//               left out; with several documents each part starts with dN.
//   positions   line:col, or - when absent
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "brackle/document.hpp"
#include "core/src/loader.hpp"
#include "tests/cpp/scanner_test_util.hpp"

namespace brackle_test {

using brackle_core::Blank;
using brackle_core::Comment;
using brackle_core::Document;
using brackle_core::Entry;
using brackle_core::Node;
using brackle_core::NodeIndex;
using brackle_core::NodeStyle;
using brackle_core::ParseError;
using brackle_core::Position;
using brackle_core::ScalarText;
using brackle_core::Trivia;
namespace kind = brackle_core::kind;

// The documents of `text`; a load error fails the test and gives none.
inline std::vector<Document> load(std::string_view text) {
    auto result = brackle_core::loader::parse(text);
    if (auto* error = std::get_if<ParseError>(&result)) {
        ADD_FAILURE() << "load failed: " << error->message << " @ " << error->line << ":"
                      << error->col;
        return {};
    }
    return std::get<std::vector<Document>>(std::move(result));
}

// The only document of `text`; an empty one (and a failure) otherwise.
inline Document load_one(std::string_view text) {
    std::vector<Document> docs = load(text);
    if (docs.size() != 1) {
        ADD_FAILURE() << "expected one document, got " << docs.size();
        return Document{};
    }
    return std::move(docs.front());
}

// The trivia slots of a node (the one place that knows where a node keeps them).
inline const brackle_core::Trivia4& slots(const Node& n) { return n.trivia.get(); }

inline std::string pos_str(Position p) {
    return std::to_string(p.line) + ":" + std::to_string(p.col);
}
inline std::string pos_str(const std::optional<Position>& p) { return p ? pos_str(*p) : "-"; }

inline std::string node_name(const Document& doc, NodeIndex i) {
    if (i >= doc.nodes.size()) return "<bad index " + std::to_string(i) + ">";
    const Node& n = doc.nodes[i];
    const bool flow = n.style == NodeStyle::Flow;
    if (std::holds_alternative<kind::Sequence>(n.kind))
        return (flow ? "[]" : "seq") + std::to_string(i);
    if (std::holds_alternative<kind::Mapping>(n.kind))
        return (flow ? "{}" : "map") + std::to_string(i);
    if (const auto* alias = std::get_if<kind::Alias>(&n.kind)) return "*" + alias->name;
    return n.value() && !n.value()->empty() ? escape(*n.value()) : "''";
}

// The first node named `name`.
inline std::optional<NodeIndex> find_node(const Document& doc, std::string_view name) {
    for (NodeIndex i = 0; i < doc.nodes.size(); ++i)
        if (node_name(doc, i) == name) return i;
    return std::nullopt;
}

inline std::string trivia_str(const Trivia& t) {
    if (const auto* c = std::get_if<Comment>(&t))
        return std::string(c->own_line ? "own(" : "trail(") + escape(c->text) + "@" +
               std::to_string(c->col) + ")";
    return "blank(" + std::to_string(std::get<Blank>(t).blank_lines) + ")";
}

inline std::string trivia_str(const std::vector<Trivia>& list) {
    std::string out = "[";
    for (const auto& t : list) out += (out.size() > 1 ? " " : "") + trivia_str(t);
    return out + "]";
}

// Every non-empty trivia slot of every document, in document and arena order.
inline std::string trivia_of(const std::vector<Document>& docs) {
    std::string out;
    for (std::size_t d = 0; d < docs.size(); ++d) {
        const Document& doc = docs[d];
        const std::string prefix = docs.size() > 1 ? "d" + std::to_string(d) + "." : "";
        auto add = [&](const std::string& part) {
            out += (out.empty() ? "" : " ") + prefix + part;
        };
        if (!doc.leading.empty()) add("leading=" + trivia_str(doc.leading));
        for (NodeIndex i = 0; i < doc.nodes.size(); ++i) {
            const auto& t = slots(doc.nodes[i]);
            const std::string name = node_name(doc, i);
            if (!t.before.empty()) add(name + ".before=" + trivia_str(t.before));
            if (t.eol) add(name + ".eol=" + trivia_str(*t.eol));
            if (!t.inner.empty()) add(name + ".inner=" + trivia_str(t.inner));
            if (!t.after.empty()) add(name + ".after=" + trivia_str(t.after));
        }
        if (!doc.trailing.empty()) add("trailing=" + trivia_str(doc.trailing));
    }
    return out;
}

inline std::string trivia_of(std::string_view text) { return trivia_of(load(text)); }

// The entries of the first mapping of `text`: key=value@colon, with
// " merge" and " explicit" when set, joined by ", ".
inline std::string entries_of(std::string_view text) {
    const Document doc = load_one(text);
    for (const Node& n : doc.nodes) {
        const auto* map = std::get_if<kind::Mapping>(&n.kind);
        if (!map) continue;
        std::string out;
        for (const Entry& e : map->entries) {
            if (!out.empty()) out += ", ";
            out += node_name(doc, e.key) + "=" + node_name(doc, e.value) + "@" + pos_str(e.colon);
            if (e.merge) out += " merge";
            if (e.explicit_key) out += " explicit";
        }
        return out;
    }
    return "<no mapping>";
}

// A table row: an input and what a helper makes of it.
struct LoadCase {
    std::string_view input;
    std::string expected;
};

template <class Render>
void expect_rendered(const std::vector<LoadCase>& cases, Render render) {
    for (const auto& c : cases) {
        SCOPED_TRACE("input: " + escape(c.input));
        EXPECT_EQ(render(c.input), c.expected);
    }
}

}  // namespace brackle_test
