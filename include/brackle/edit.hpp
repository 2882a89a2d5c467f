// Editing one document's text in place: where each node's text stands, and
// the new text of a change spliced in, every other byte left as it was.
//
// An `Editor` reads one document's text (the stream's text from where the
// document begins to where the next one does). Each edit gives candidate
// texts for that document, best first; the caller reads each back and keeps
// the first that loads to the changed data, or refuses the change.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "brackle/document.hpp"
#include "brackle/emit.hpp"
#include "brackle/load.hpp"

namespace brackle_core::edit {

// Why a change cannot be written, in a user's words.
struct EditError {
    std::string message;
};

// Candidate texts of the document, best first; or why there are none.
using Candidates = std::variant<std::vector<std::string>, EditError>;
// New text, or why it cannot be written.
using Rendered = std::variant<std::string, EditError>;

// What an edit writes: a document whose root is the new value, as the data
// path represents it or as a text was read. `flow` asks for its collections
// in flow style.
struct NewValue {
    Document document;
    bool flow = false;
};

// Where a child of a collection stands, by 0-based line of the document's
// text: its comment lines above start at `comments`, its own lines run from
// `first` to `last`.
struct ChildLines {
    std::uint32_t comments = 0;
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    bool shares_line = false;  // it begins after other text on its first line
};

class Editor {
public:
    // Reads `text`, one document's text; `documents` gets what it loads to
    // (the caller edits only a text that loads as one document).
    static std::variant<Editor, ParseError> read(std::string text);

    const std::string& text() const { return text_; }
    // What the text loads to; the edits below need it to be one document.
    std::vector<Document>& documents() { return documents_; }
    const Document& document() const { return documents_.front(); }

    // The edits. `c` is a collection's node, `pos` a child's position (an
    // entry's for a mapping).
    Candidates set_child(NodeIndex c, std::size_t pos, const NewValue& value) const;
    // A new child before child `pos` (or at the end): an item, or with `key`
    // (a document whose root is the key) an entry.
    Candidates insert_child(NodeIndex c, std::size_t pos, const NewValue& value,
                            const Document* key) const;
    Candidates delete_child(NodeIndex c, std::size_t pos) const;
    // `last` says whether this is the stream's last document, the only one
    // that takes a root where it has none.
    Candidates replace_root(const NewValue& value, bool last) const;

    // The comment at the end of a child's first line, without its `#` and the
    // blank after it; and the comment lines just above the child (no blank
    // line between).
    std::optional<std::string> eol_comment(NodeIndex c, std::size_t pos) const;
    std::vector<std::string> comments_before(NodeIndex c, std::size_t pos) const;
    // The text with those comments replaced: `text` (null: none) written as
    // `# text`, each of `texts` on a line of its own.
    Candidates set_eol_comment(NodeIndex c, std::size_t pos,
                               const std::optional<std::string>& text) const;
    Candidates set_comments_before(NodeIndex c, std::size_t pos,
                                   const std::vector<std::string>& texts) const;

    // The node alias `i` refers to, the last node before it that declares
    // its anchor; `i` itself when it is no alias; none for an alias whose
    // anchor is declared nowhere before it.
    std::optional<NodeIndex> deref(NodeIndex i) const;
    // The nodes the document's aliases refer to.
    std::vector<NodeIndex> aliased() const;
    // The anchors declared in node `top`'s subtree that an alias outside it
    // uses.
    std::vector<std::string> anchors_used_outside(NodeIndex top) const;

    // How many children collection `c` has (a mapping's: its entries); 0
    // for other nodes.
    std::size_t child_count(NodeIndex c) const;
    ChildLines child_lines(NodeIndex c, std::size_t pos) const;
    // The 0-based line of what introduces a child's value: its `:` or `-`.
    std::uint32_t value_mark_line(NodeIndex c, std::size_t pos) const;
    // The last line of node `i`'s text.
    std::uint32_t last_line(NodeIndex i) const;

private:
    Editor() = default;
    const Document& doc() const { return documents_.front(); }
    const Node& node(NodeIndex i) const { return doc().nodes[i]; }

    // editor.cpp: where things are, as byte offsets into the text. A node's
    // text runs from its properties (`props_start`) to the end of its
    // content (`end`); a block scalar's ends after its last line break.
    std::size_t offset(Position p) const;
    std::size_t start(NodeIndex i) const { return spans_[2 * i]; }
    std::size_t end(NodeIndex i) const;
    std::size_t props_start(NodeIndex i) const;
    std::size_t props_end(NodeIndex i) const;
    std::uint32_t line_of(std::size_t offset) const;
    std::size_t line_start(std::uint32_t line) const;
    std::size_t line_end(std::uint32_t line) const;
    std::uint32_t column(std::size_t offset) const;  // in characters
    bool first_on_line(std::size_t offset) const;
    // Whether only blanks and a comment follow `offset` on its line.
    bool only_comment_after(std::size_t offset) const;
    bool is_comment_line(std::uint32_t line) const;
    std::uint32_t comment_top(std::uint32_t line, std::int64_t bound) const;
    std::vector<NodeIndex> child_nodes(NodeIndex c, std::size_t pos) const;
    std::size_t child_start(NodeIndex c, std::size_t pos) const;
    std::size_t child_end(NodeIndex c, std::size_t pos) const;
    std::uint32_t child_last_line(NodeIndex c, std::size_t pos) const;
    std::optional<std::pair<std::uint32_t, std::uint32_t>> own_flow_lines(NodeIndex c,
                                                                          std::size_t pos) const;
    std::optional<std::size_t> value_mark_end(NodeIndex c, std::size_t pos) const;
    std::pair<std::uint32_t, std::uint32_t> comment_lines(NodeIndex c, std::size_t pos) const;
    std::optional<std::size_t> eol_comment_at(NodeIndex c, std::size_t pos) const;

    // splice.cpp: new text, and the text with it spliced in.
    enum class Context { Map, Seq, Flow, Root };
    std::string splice(std::size_t from, std::size_t to, std::string_view with) const;
    std::string lines_to_text(const std::vector<std::string>& lines, std::uint32_t col) const;
    std::string shift(std::string_view text, std::uint32_t col) const;
    Rendered dump(Document document, bool flow) const;
    Rendered render(const NewValue& value, Context context, std::optional<NodeStyle> hint,
                    bool flow) const;
    std::variant<std::vector<std::string>, EditError> render_child(const NewValue& value,
                                                                   const Document* key, bool block,
                                                                   bool in_flow) const;
    std::string replace_value(NodeIndex v, const std::string* anchor, std::string replacement,
                              std::size_t mark_end, std::uint32_t base) const;
    std::string replace_below(std::size_t props, std::size_t end, const std::string* anchor,
                              const std::string& replacement, std::uint32_t base) const;

    std::string text_;
    std::vector<Document> documents_;
    std::vector<std::size_t> spans_;        // node i from spans_[2i] to spans_[2i + 1], bytes
    std::vector<std::size_t> line_starts_;  // byte offset of each line
    // The nodes that declare each anchor, in document order.
    std::unordered_map<std::string, std::vector<NodeIndex>> anchors_;
    std::string nl_;       // the line break new lines end in
    EmitOptions options_;  // how new text is laid out
};

}  // namespace brackle_core::edit
