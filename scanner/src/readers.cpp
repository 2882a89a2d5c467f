#include "brackle/read.hpp"
#include "scanner/src/char_traits.hpp"
#include "scanner/src/parser.hpp"
#include "scanner/src/scanner.hpp"

namespace brackle_scanner {

TokenReader::TokenReader(std::string_view text) : scanner_(std::make_unique<Scanner>(text)) {}
TokenReader::~TokenReader() = default;
Delivery TokenReader::next(Token& out) { return scanner_->next_token(out); }
const ScanError& TokenReader::error() const { return scanner_->error(); }

EventReader::EventReader(std::string_view text) : parser_(std::make_unique<Parser>(text)) {}
EventReader::~EventReader() = default;
bool EventReader::next(Event& out) { return parser_->next_event(out); }
const ScanError& EventReader::error() const { return parser_->error(); }

std::vector<std::string> comments(std::string_view text) {
    std::vector<std::string> found;
    Scanner scanner(text);
    Token token;
    while (scanner.next_token(token) == Delivery::Token) {
        if (token.type != TokenType::Comment) continue;
        const std::size_t end = token.value.find_last_not_of(" \t\r");
        token.value.resize(end == std::string::npos ? 0 : end + 1);
        found.push_back(std::move(token.value));
    }
    return found;
}

bool is_utf8(std::string_view text) { return is_valid_utf8(text); }

}  // namespace brackle_scanner
