// The fuzz targets' view of their input.
//
// The scanner, and the parser and loader over it, take any bytes: text that
// is not valid UTF-8 ends in the scanner's error at its first bad byte. So
// fuzz_scanner and fuzz_loader run every input as it comes (`bytes`), and a
// hang, crash or bad read on broken text is a finding like any other.
//
// fuzz_roundtrip checks that a text that loads comes back byte for byte, a
// property of text: it runs only valid UTF-8 (`utf8_text`). Other inputs
// could only check that the load fails, which fuzz_loader already covers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "scanner/src/char_traits.hpp"

namespace brackle_fuzz {

// The input as it is, whatever its bytes.
inline std::string_view bytes(const std::uint8_t* data, std::size_t size) {
    return std::string_view(reinterpret_cast<const char*>(data), size);
}

// The input as text, or nothing when it is not valid UTF-8.
inline std::optional<std::string_view> utf8_text(const std::uint8_t* data, std::size_t size) {
    const std::string_view s = bytes(data, size);
    if (!brackle_scanner::is_valid_utf8(s)) return std::nullopt;
    return s;
}

}  // namespace brackle_fuzz
