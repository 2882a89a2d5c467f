// The document model: a document is an arena of nodes that refer to each
// other by 32-bit index, with everything a lossless round trip needs beside
// the tree (source text of scalars, styles, properties and where they were
// written, trivia, directives, markers, the stream's end).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "brackle/scalar_text.hpp"
#include "brackle/trivia.hpp"

namespace brackle_core {

// How deeply collections may nest in a document: the loader refuses a deeper
// document and the emitter a deeper tree, so that whatever loads can be
// written back. Far beyond what people write; it bounds what a hostile
// document costs.
inline constexpr std::uint32_t max_depth = 100000;

using NodeIndex = std::uint32_t;

// A source position: line and column from 0, the column in characters.
struct Position {
    std::uint32_t line = 0;
    std::uint32_t col = 0;

    friend bool operator==(const Position&, const Position&) = default;
    friend auto operator<=>(const Position&, const Position&) = default;
};

// How a node was written; codes 0 to 4 follow the scanner's scalar styles.
enum class NodeStyle : std::uint8_t {
    Plain,
    SingleQuoted,
    DoubleQuoted,
    Literal,
    Folded,
    Block,
    Flow
};

// Whether a scalar style is one of the block scalar styles (`|`, `>`).
constexpr bool is_block_scalar_style(NodeStyle style) {
    return style == NodeStyle::Literal || style == NodeStyle::Folded;
}

// One key/value pair of a mapping.
struct Entry {
    NodeIndex key = 0;
    NodeIndex value = 0;
    std::optional<Position> colon;  // where its `:` was written, when recorded
    bool merge = false;             // the key is the untagged plain scalar `<<`
    bool explicit_key = false;      // written in explicit-key form (`?`)

    friend bool operator==(const Entry&, const Entry&) = default;
};

// What a node is; the variant's index is the kind code records carry.
namespace kind {
// A scalar keeps its text in its kind: the texts a scalar needs and the
// lists a collection needs share the node's room. A loaded scalar's texts
// may be views into its document's source.
struct Scalar {
    ScalarText value;  // the decoded value
    ScalarText raw;    // the exact source text
    friend bool operator==(const Scalar&, const Scalar&) = default;
};
struct Sequence {
    std::vector<NodeIndex> items;
    friend bool operator==(const Sequence&, const Sequence&) = default;
};
struct Mapping {
    std::vector<Entry> entries;  // in source order
    friend bool operator==(const Mapping&, const Mapping&) = default;
};
struct Alias {
    std::string name;  // the anchor it refers to, without the `*`
    friend bool operator==(const Alias&, const Alias&) = default;
};
}  // namespace kind

using NodeKind = std::variant<kind::Scalar, kind::Sequence, kind::Mapping, kind::Alias>;

// A tag as written and as resolved.
struct NodeTag {
    std::string handle;  // the handle to write it with; empty: written without one
    std::string suffix;  // as written
    std::string full;    // the resolved tag: prefix followed by suffix

    friend bool operator==(const NodeTag&, const NodeTag&) = default;
};

struct TagDirective {
    std::string handle;
    std::string prefix;

    friend bool operator==(const TagDirective&, const TagDirective&) = default;
};

// A part that most values leave empty, kept out of line: an absent part
// costs one pointer, reading one gives an empty value, and copying the owner
// copies the part.
template <class T>
class OutOfLine {
public:
    OutOfLine() = default;
    OutOfLine(const OutOfLine& other)
        : part_(other.part_ ? std::make_unique<T>(*other.part_) : nullptr) {}
    OutOfLine(OutOfLine&&) noexcept = default;
    OutOfLine& operator=(const OutOfLine& other) {
        if (this != &other) part_ = other.part_ ? std::make_unique<T>(*other.part_) : nullptr;
        return *this;
    }
    OutOfLine& operator=(OutOfLine&&) noexcept = default;

    const T& get() const { return part_ ? *part_ : empty(); }
    T& edit() {
        if (!part_) part_ = std::make_unique<T>();
        return *part_;
    }
    bool present() const { return part_ != nullptr; }

    friend bool operator==(const OutOfLine& a, const OutOfLine& b) { return a.get() == b.get(); }

private:
    static const T& empty() {
        static const T value{};
        return value;
    }
    std::unique_ptr<T> part_;
};

// The parts of a node that few nodes have: its properties, where they and a
// block scalar's header were written, and a flow collection's separators.
struct NodeExtras {
    std::optional<std::string> anchor;  // declared on this node, without the `&`
    std::optional<NodeTag> tag;
    std::optional<Position> anchor_at;  // where the anchor was written
    std::optional<Position> tag_at;     // where the tag was written
    std::optional<Position> header_at;  // where a block scalar's header was written
    // Flow collections: the source text of each gap between the brackets
    // (n + 1 for n children, n for a single-pair mapping in a flow
    // sequence), each comment replaced by a lone `#`; empty when not cut.
    std::vector<std::string> flow_seps;

    friend bool operator==(const NodeExtras&, const NodeExtras&) = default;
};

struct Node {
    NodeKind kind;
    NodeStyle style = NodeStyle::Plain;
    bool tag_first = false;  // both a tag and an anchor were written, the tag first
    std::uint32_t line = 0;  // where the node's own text starts
    std::uint32_t col = 0;
    OutOfLine<NodeExtras> extras;
    OutOfLine<Trivia4> trivia;  // comments and blank lines attached to the node

    // The children in order; a mapping gives each key followed by its value.
    std::vector<NodeIndex> children() const;
    // A scalar's decoded value and exact source text; other nodes have none.
    const ScalarText& value() const { return scalar_text(&kind::Scalar::value); }
    const ScalarText& raw() const { return scalar_text(&kind::Scalar::raw); }

    friend bool operator==(const Node&, const Node&) = default;

private:
    const ScalarText& scalar_text(ScalarText kind::Scalar::*text) const {
        static const ScalarText none;
        const auto* scalar = std::get_if<kind::Scalar>(&kind);
        return scalar ? scalar->*text : none;
    }
};

// Whether `n` is a sequence or a mapping.
inline bool is_collection(const Node& n) {
    return std::holds_alternative<kind::Sequence>(n.kind) ||
           std::holds_alternative<kind::Mapping>(n.kind);
}

// The last child of `n` (a mapping's last value), if it has one.
inline std::optional<NodeIndex> last_child(const Node& n) {
    if (const auto* seq = std::get_if<kind::Sequence>(&n.kind); seq && !seq->items.empty()) {
        return seq->items.back();
    }
    if (const auto* map = std::get_if<kind::Mapping>(&n.kind); map && !map->entries.empty()) {
        return map->entries.back().value;
    }
    return std::nullopt;
}

// Calls `visit` with each child index of `n` in the order `children()`
// lists them, without building the list.
template <class Visit>
void for_each_child(const Node& n, Visit&& visit) {
    if (const auto* seq = std::get_if<kind::Sequence>(&n.kind)) {
        for (const NodeIndex i : seq->items) visit(i);
    } else if (const auto* map = std::get_if<kind::Mapping>(&n.kind)) {
        for (const Entry& e : map->entries) {
            visit(e.key);
            visit(e.value);
        }
    }
}

// Whether `handle` is a tag handle a reader takes: `!`, `!!` or `!word!`.
bool is_tag_handle(std::string_view handle);

// A mapping key that occurs more than once in one mapping.
struct DuplicateKey {
    std::string key;     // the key's text as keys are compared
    Position previous;   // where the same key was last seen
    Position duplicate;  // where it occurs again

    friend bool operator==(const DuplicateKey&, const DuplicateKey&) = default;
};

// The line break a source uses: its first one, which the emitter writes at
// the end of every line it lays out anew. Unknown for a document that was
// not loaded, or a source without a line break.
enum class LineBreak : std::uint8_t { Unknown, Lf, CrLf, Cr };
// The lines (by 0-based number, rising) that end in another break than the
// first, and that break.
using OtherLineBreaks = std::vector<std::pair<std::uint32_t, LineBreak>>;

// The source text a loaded document's scalars view, held for as long as
// the document or a copy of it lives. Not part of the document's value:
// documents compare equal whatever text they keep.
struct KeptSource {
    std::shared_ptr<const std::string> text;  // null: the loader's caller keeps it

    friend bool operator==(const KeptSource&, const KeptSource&) { return true; }
};

// One YAML document. A value-initialised `Document` is the empty document.
struct Document {
    std::vector<Node> nodes;
    std::optional<NodeIndex> root;
    std::vector<TagDirective> tag_directives;  // in source order
    std::optional<std::pair<std::uint32_t, std::uint32_t>> version;
    std::size_t tags_before_version = 0;  // `%TAG` lines before `%YAML`
    // The source text holding the directive lines, and how many of the first
    // `leading` items it already contains.
    std::optional<std::pair<std::string, std::size_t>> directives_raw;
    bool explicit_start = false;
    bool explicit_end = false;
    bool bom = false;
    bool final_line_break = false;
    std::vector<Trivia> leading;
    std::vector<Trivia> trailing;
    std::string stream_tail;
    // Source lines whose tabs or trailing blanks a writer could not rebuild,
    // by 0-based line number; kept on the first document for the whole source.
    std::unordered_map<std::uint32_t, std::string> line_space;
    // The source's first line break, which the emitter writes at the end of
    // every line; and, kept on the first document for the whole source, the
    // lines (by 0-based number) that end in another one, in rising order.
    LineBreak line_break = LineBreak::Unknown;
    OtherLineBreaks other_line_breaks;
    std::vector<DuplicateKey> duplicate_keys;
    KeptSource source;

    friend bool operator==(const Document&, const Document&) = default;
};

// Adds the nodes of `from` to `into`, their links moved along and their
// texts copied out of `from`'s source, and gives the index of `from`'s root
// (its first node when it has none) in `into`.
NodeIndex graft(Document& into, const Document& from);

}  // namespace brackle_core
