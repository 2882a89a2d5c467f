// The fuzz targets' view of their input: the scanner and the loader take
// UTF-8 text (from the Python layer, always a valid string), so bytes that
// are not valid UTF-8 are outside their contract and are not run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "scanner/src/char_traits.hpp"

namespace brackle_fuzz {

// The input as text, or nothing when it is not valid UTF-8.
inline std::optional<std::string_view> utf8_text(const std::uint8_t* data, std::size_t size) {
    const std::string_view s(reinterpret_cast<const char*>(data), size);
    if (!brackle_scanner::is_valid_utf8(s)) return std::nullopt;
    return s;
}

}  // namespace brackle_fuzz
