// Fuzz target: the loader gives documents or a parse error, whatever the
// text; an error is never an internal one (a broken invariant).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <variant>

#include "core/src/loader.hpp"
#include "fuzz/fuzz_input.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::optional<std::string_view> input = brackle_fuzz::utf8_text(data, size);
    if (!input) return -1;
    const auto loaded = brackle_core::loader::parse(*input);
    if (const auto* e = std::get_if<brackle_core::ParseError>(&loaded); e && e->internal)
        __builtin_trap();
    return 0;
}
