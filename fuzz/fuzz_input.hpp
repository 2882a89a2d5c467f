// The fuzz targets' view of their input: the scanner and the loader take
// UTF-8 text (from the Python layer, always a valid string), so bytes that
// are not valid UTF-8 are outside their contract and are not run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace brackle_fuzz {

// Whether `s` is well-formed UTF-8: no stray or missing continuation bytes,
// no overlong forms, no surrogates, nothing above U+10FFFF.
inline bool is_valid_utf8(std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const auto* end = p + s.size();
    while (p < end) {
        const unsigned char lead = *p;
        if (lead < 0x80) {
            ++p;
            continue;
        }
        std::size_t width;
        char32_t min;
        char32_t c;
        if (lead >= 0xC2 && lead <= 0xDF) {
            width = 2, min = 0x80, c = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            width = 3, min = 0x800, c = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            width = 4, min = 0x10000, c = lead & 0x07;
        } else {
            return false;
        }
        if (static_cast<std::size_t>(end - p) < width) return false;
        for (std::size_t i = 1; i < width; ++i) {
            if ((p[i] & 0xC0) != 0x80) return false;
            c = (c << 6) | (p[i] & 0x3F);
        }
        if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
        p += width;
    }
    return true;
}

// The input as text, or nothing when it is not valid UTF-8.
inline std::optional<std::string_view> utf8_text(const std::uint8_t* data, std::size_t size) {
    const std::string_view s(reinterpret_cast<const char*>(data), size);
    if (!is_valid_utf8(s)) return std::nullopt;
    return s;
}

}  // namespace brackle_fuzz
