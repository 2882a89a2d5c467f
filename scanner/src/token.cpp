// Debug names of token kinds and scalar styles.
#include "brackle/token.hpp"

#include <array>

namespace brackle_scanner {

const char* scalar_style_name(ScalarStyle style) {
    static constexpr std::array<const char*, 5> names = {"Plain", "SingleQuoted", "DoubleQuoted",
                                                         "Literal", "Folded"};
    return names[static_cast<std::size_t>(style)];
}

const char* token_type_name(TokenType type) {
    static constexpr std::array<const char*, 23> names = {
        "StreamStart",
        "StreamEnd",
        "VersionDirective",
        "TagDirective",
        "DocumentStart",
        "DocumentEnd",
        "BlockSequenceStart",
        "BlockMappingStart",
        "BlockEnd",
        "FlowSequenceStart",
        "FlowSequenceEnd",
        "FlowMappingStart",
        "FlowMappingEnd",
        "BlockEntry",
        "FlowEntry",
        "Key",
        "Value",
        "Alias",
        "Anchor",
        "Tag",
        "Scalar",
        "Comment",
        "ReservedDirective",
    };
    return names[static_cast<std::size_t>(type)];
}

}  // namespace brackle_scanner
