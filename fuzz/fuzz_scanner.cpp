// Fuzz target: the scanner hands out tokens until StreamEnd or an error,
// whatever the text, and repeats the error once it has stopped on one.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "fuzz/fuzz_input.hpp"
#include "scanner/src/scanner.hpp"
#include "scanner/src/token.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using brackle_scanner::Delivery;
    std::optional<std::string_view> input = brackle_fuzz::utf8_text(data, size);
    if (!input) return -1;
    std::string_view text = *input;
    // The loader drops a byte order mark before it scans; the scanner does not expect one.
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    brackle_scanner::Scanner scanner(text);
    brackle_scanner::Token token;
    Delivery delivery;
    do {
        delivery = scanner.next_token(token);
    } while (delivery == Delivery::Token);
    if (delivery == Delivery::Error && scanner.next_token(token) != Delivery::Error)
        __builtin_trap();
    return 0;
}
