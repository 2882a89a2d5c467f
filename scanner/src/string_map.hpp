// A map from strings to small values, built for many short keys: the key
// texts live in one buffer, and an open-addressing table of indices finds
// them (a map of a few keys is searched in order). Inserting allocates only
// when a buffer grows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brackle_scanner {

template <class Value>
class StringMap {
public:
    // The value of `key`, or nothing.
    const Value* find(std::string_view key) const {
        const std::size_t at = locate(key, hash_of(key));
        return at == npos ? nullptr : &entries_[at].value;
    }

    // Sets the value of `key`. Returns the value it had, if it had one.
    std::optional<Value> insert_or_assign(std::string_view key, Value value) {
        const std::size_t hash = hash_of(key);
        if (const std::size_t at = locate(key, hash); at != npos) {
            std::optional<Value> previous = std::move(entries_[at].value);
            entries_[at].value = std::move(value);
            return previous;
        }
        entries_.push_back(Entry{texts_.size(), key.size(), hash, std::move(value)});
        texts_.append(key);
        if (entries_.size() > linear_limit) {
            if (table_.size() < 2 * entries_.size()) {
                rebuild();
            } else {
                place(entries_.size() - 1);
            }
        }
        return std::nullopt;
    }

    // Forgets every key and keeps the buffers.
    void clear() {
        texts_.clear();
        entries_.clear();
        table_.clear();
    }

private:
    static constexpr std::size_t linear_limit = 8;
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);
    static constexpr std::uint32_t empty_slot = 0xFFFFFFFFu;

    struct Entry {
        std::size_t offset;
        std::size_t length;
        std::size_t hash;
        Value value;
    };

    static std::size_t hash_of(std::string_view key) { return std::hash<std::string_view>{}(key); }

    bool same(const Entry& e, std::string_view key, std::size_t hash) const {
        return e.hash == hash && std::string_view(texts_).substr(e.offset, e.length) == key;
    }

    std::size_t locate(std::string_view key, std::size_t hash) const {
        if (table_.empty()) {
            for (std::size_t i = 0; i < entries_.size(); ++i) {
                if (same(entries_[i], key, hash)) return i;
            }
            return npos;
        }
        const std::size_t mask = table_.size() - 1;
        for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
            if (table_[slot] == empty_slot) return npos;
            if (same(entries_[table_[slot]], key, hash)) return table_[slot];
        }
    }

    void place(std::size_t entry) {
        const std::size_t mask = table_.size() - 1;
        std::size_t slot = entries_[entry].hash & mask;
        while (table_[slot] != empty_slot) slot = (slot + 1) & mask;
        table_[slot] = static_cast<std::uint32_t>(entry);
    }

    void rebuild() {
        std::size_t size = 16;
        while (size < 4 * entries_.size()) size *= 2;
        table_.assign(size, empty_slot);
        for (std::size_t i = 0; i < entries_.size(); ++i) place(i);
    }

    std::string texts_;
    std::vector<Entry> entries_;
    std::vector<std::uint32_t> table_;  // indices into entries_; empty while searched in order
};

}  // namespace brackle_scanner
