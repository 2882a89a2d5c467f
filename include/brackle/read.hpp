// Reading a text a token or an event at a time, through the scanner and the
// parser that the loader uses: what `brackle-dump tokens` and `brackle-dump
// events` show.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "brackle/event.hpp"
#include "brackle/token.hpp"

namespace brackle_scanner {

class Scanner;
class Parser;

class TokenReader {
public:
    explicit TokenReader(std::string_view text);
    ~TokenReader();
    TokenReader(const TokenReader&) = delete;
    TokenReader& operator=(const TokenReader&) = delete;

    // The next token, comments included; after StreamEnd, End.
    Delivery next(Token& out);
    // The first error, once `next` has answered Error.
    const ScanError& error() const;

private:
    std::unique_ptr<Scanner> scanner_;
};

class EventReader {
public:
    explicit EventReader(std::string_view text);
    ~EventReader();
    EventReader(const EventReader&) = delete;
    EventReader& operator=(const EventReader&) = delete;

    // The next event, comments included; false at an error.
    bool next(Event& out);
    const ScanError& error() const;

private:
    std::unique_ptr<Parser> parser_;
};

// The comments of `text` in the order they stand, each from its `#` to the
// end of its line without the blanks there; those before the first error
// of a text that is not well-formed.
std::vector<std::string> comments(std::string_view text);

// Whether `text` is well-formed UTF-8.
bool is_utf8(std::string_view text);

}  // namespace brackle_scanner
