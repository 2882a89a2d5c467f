// Fuzz target: the scanner hands out tokens until StreamEnd or an error,
// whatever the bytes, and repeats the error once it has stopped on one.
// Bytes that are not valid UTF-8 (before the NUL that ends the stream, if
// any) give that error before any token; valid text never gives it.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "brackle/token.hpp"
#include "fuzz/fuzz_input.hpp"
#include "scanner/src/char_traits.hpp"
#include "scanner/src/scanner.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using brackle_scanner::Delivery;
    std::string_view text = brackle_fuzz::bytes(data, size);
    // The loader drops a byte order mark before it scans; the scanner does not expect one.
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    const bool utf8 = brackle_scanner::is_valid_utf8(text.substr(0, text.find('\0')));
    brackle_scanner::Scanner scanner(text);
    brackle_scanner::Token token;
    Delivery delivery;
    std::size_t delivered = 0;
    while ((delivery = scanner.next_token(token)) == Delivery::Token) ++delivered;
    if (delivery == Delivery::Error && scanner.next_token(token) != Delivery::Error)
        __builtin_trap();
    const bool utf8_error =
        delivery == Delivery::Error && scanner.error().info == brackle_scanner::not_utf8_message;
    if (utf8_error == utf8 || (utf8_error && delivered > 0)) __builtin_trap();
    return 0;
}
