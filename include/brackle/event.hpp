// The parser's vocabulary: events, with the tags they carry resolved, as
// the loader and the `brackle-dump events` tool read them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "brackle/token.hpp"

namespace brackle_scanner {

// The secondary handle `!!` stands for this prefix unless a `%TAG` says otherwise.
inline constexpr std::string_view standard_tag_prefix = "tag:yaml.org,2002:";

// A resolved tag: `handle` is the prefix the written handle stands for.
struct Tag {
    std::string handle;
    std::string suffix;

    friend bool operator==(const Tag&, const Tag&) = default;
};

// The event kinds.
enum class EventType : std::uint8_t {
    StreamStart,
    StreamEnd,
    DocumentStart,
    DocumentEnd,
    Alias,
    Scalar,
    SequenceStart,
    SequenceEnd,
    MappingStart,
    MappingEnd,
    Comment,
};

const char* event_type_name(EventType type);

// An event: its kind, its span and the payload of its kind.
struct Event {
    EventType type = EventType::StreamStart;
    ScalarStyle style = ScalarStyle::Plain;  // Scalar
    bool explicit_start = false;             // DocumentStart: began with `---`
    bool flow = false;                       // SequenceStart, MappingStart
    // Alias: the name it refers to. Scalar, SequenceStart, MappingStart: the
    // node's anchor, if any.
    std::optional<std::string> anchor;
    std::size_t anchor_id = 0;  // the anchor's number; 0 for none
    std::optional<Tag> tag;     // Scalar, SequenceStart, MappingStart
    std::string value;          // Scalar: the value. Comment: the text.
    Span span;
};

}  // namespace brackle_scanner
