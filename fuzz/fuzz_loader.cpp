// Fuzz target: the loader gives documents or a parse error, whatever the
// bytes; an error is never an internal one (a broken invariant).
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <variant>

#include "core/src/loader.hpp"
#include "fuzz/fuzz_input.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto loaded = brackle_core::loader::parse(brackle_fuzz::bytes(data, size));
    if (const auto* e = std::get_if<brackle_core::ParseError>(&loaded); e && e->internal)
        __builtin_trap();
    return 0;
}
