#include "brackle/document.hpp"
#include "scanner/src/char_traits.hpp"

namespace brackle_core {

bool is_tag_handle(std::string_view handle) {
    if (handle == "!" || handle == "!!") return true;
    if (handle.size() < 3 || handle.front() != '!' || handle.back() != '!') return false;
    for (const char c : handle.substr(1, handle.size() - 2)) {
        if (!brackle_scanner::is_word_char(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

NodeIndex graft(Document& into, const Document& from) {
    const auto moved = static_cast<NodeIndex>(into.nodes.size());
    into.nodes.reserve(into.nodes.size() + from.nodes.size());
    for (Node n : from.nodes) {
        if (auto* seq = std::get_if<kind::Sequence>(&n.kind)) {
            for (NodeIndex& i : seq->items) i += moved;
        } else if (auto* map = std::get_if<kind::Mapping>(&n.kind)) {
            for (Entry& e : map->entries) {
                e.key += moved;
                e.value += moved;
            }
        } else if (auto* scalar = std::get_if<kind::Scalar>(&n.kind)) {
            scalar->value.own_view();
            scalar->raw.own_view();
        }
        into.nodes.push_back(std::move(n));
    }
    return moved + from.root.value_or(0);
}

std::vector<NodeIndex> Node::children() const {
    if (const auto* seq = std::get_if<kind::Sequence>(&kind)) return seq->items;
    std::vector<NodeIndex> out;
    if (const auto* map = std::get_if<kind::Mapping>(&kind)) {
        out.reserve(map->entries.size() * 2);
        for (const Entry& e : map->entries) {
            out.push_back(e.key);
            out.push_back(e.value);
        }
    }
    return out;
}

}  // namespace brackle_core
