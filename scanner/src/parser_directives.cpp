// The parser's directives, tag resolution and anchors: the `%YAML` and
// `%TAG` lines in front of each document, the prefixes tag handles stand
// for, and the numbers that tie aliases to anchors.
#include <algorithm>

#include "scanner/src/parser.hpp"

namespace brackle_scanner {

bool Parser::parser_process_directives() {
    version_.reset();
    std::vector<std::pair<std::string, std::string>> tags;
    for (;;) {
        const Token* t = peek_token();
        if (!t) return false;
        if (t->type == TokenType::VersionDirective) {
            if (version_) return fail(t->span.start, "duplicate version directive");
            version_.emplace(t->major, t->minor);
        } else if (t->type == TokenType::TagDirective) {
            const std::string_view handle = t->handle();
            if (std::any_of(tags.begin(), tags.end(),
                            [&](const auto& tag) { return tag.first == handle; })) {
                return fail(t->span.start,
                            "the TAG directive must only be given at most once per handle in the "
                            "same document");
            }
            tags.emplace_back(handle, t->prefix());
        } else if (t->type != TokenType::ReservedDirective) {
            break;
        }
        skip_token();
    }
    for (auto& [handle, prefix] : tags) tag_directives_[std::move(handle)] = std::move(prefix);
    return true;
}

bool Parser::resolve_tag(SourceMark mark, std::string_view handle, std::string_view suffix,
                         std::optional<Tag>& out) {
    std::string_view prefix = handle;
    const auto declared = tag_directives_.find(handle);
    if (handle == "!!") {
        prefix = declared != tag_directives_.end() ? std::string_view(declared->second)
                                                   : standard_tag_prefix;
    } else if (handle.empty() && suffix == "!") {
        // The non-specific tag `!`.
        prefix = declared != tag_directives_.end() ? std::string_view(declared->second) : "";
    } else if (declared != tag_directives_.end()) {
        prefix = declared->second;
    } else if (handle.size() >= 2 && handle.front() == '!' && handle.back() == '!') {
        return fail(mark, "the handle wasn't declared");
    }
    out.emplace(Tag{std::string(prefix), std::string(suffix)});
    return true;
}

std::size_t Parser::register_anchor(const std::string& name) {
    const std::size_t id = next_anchor_id_++;
    anchors_.insert_or_assign(name, id);
    return id;
}

}  // namespace brackle_scanner
