#include "core/src/node.hpp"

namespace brackle_core {

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
