// The keys of one mapping, to find the ones that repeat. Key texts go into
// one buffer; a mapping's first keys are compared one by one, a larger one
// gets an open-addressing table. Seeing a key allocates nothing once the
// buffers have grown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/src/node.hpp"

namespace brackle_core {

class SeenKeys {
public:
    // Records that the key with text `text` stands at `where`. Returns where
    // the same key was seen last, if it was.
    std::optional<Position> see(std::string_view text, Position where) {
        const std::size_t hash = std::hash<std::string_view>{}(text);
        if (const std::optional<std::size_t> found = find(text, hash)) {
            const Position previous = keys_[*found].where;
            keys_[*found].where = where;
            return previous;
        }
        keys_.push_back(Key{texts_.size(), text.size(), hash, where});
        texts_.append(text);
        if (keys_.size() > linear_limit) {
            if (table_.size() < 2 * keys_.size()) {
                rebuild();
            } else {
                insert(keys_.size() - 1);
            }
        }
        return std::nullopt;
    }

    // Forgets every key and keeps the buffers.
    void clear() {
        texts_.clear();
        keys_.clear();
        table_.clear();
    }

private:
    static constexpr std::size_t linear_limit = 8;
    static constexpr std::uint32_t empty_slot = 0xFFFFFFFFu;

    struct Key {
        std::size_t offset;
        std::size_t length;
        std::size_t hash;
        Position where;
    };

    bool same(const Key& k, std::string_view text, std::size_t hash) const {
        return k.hash == hash && std::string_view(texts_).substr(k.offset, k.length) == text;
    }

    std::optional<std::size_t> find(std::string_view text, std::size_t hash) const {
        if (table_.empty()) {
            for (std::size_t i = 0; i < keys_.size(); ++i) {
                if (same(keys_[i], text, hash)) return i;
            }
            return std::nullopt;
        }
        const std::size_t mask = table_.size() - 1;
        for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
            if (table_[slot] == empty_slot) return std::nullopt;
            if (same(keys_[table_[slot]], text, hash)) return table_[slot];
        }
    }

    void insert(std::size_t key) {
        const std::size_t mask = table_.size() - 1;
        std::size_t slot = keys_[key].hash & mask;
        while (table_[slot] != empty_slot) slot = (slot + 1) & mask;
        table_[slot] = static_cast<std::uint32_t>(key);
    }

    void rebuild() {
        std::size_t size = 16;
        while (size < 4 * keys_.size()) size *= 2;
        table_.assign(size, empty_slot);
        for (std::size_t i = 0; i < keys_.size(); ++i) insert(i);
    }

    std::string texts_;
    std::vector<Key> keys_;
    std::vector<std::uint32_t> table_;  // indices into keys_; empty while linear
};

}  // namespace brackle_core
