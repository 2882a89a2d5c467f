// Robustness: every input of the YAML test suite, and hostile inputs, end in
// StreamEnd or a ScanError within a bounded number of tokens, with spans that
// stay inside the text and agree with it.
#include <string>

#include "tests/cpp/scanner_test_util.hpp"
#include "tests/cpp/suite_util.hpp"

namespace brackle_test {
namespace {

// A bound no terminating scan can reach: a token needs at least one
// character, except for the structure tokens, a few per character at most.
std::size_t token_limit(std::string_view text) { return 8 * text.size() + 64; }

// Checks that hold for every scan, whatever the input: the stream ends or
// fails, StreamStart comes first and StreamEnd last, every span lies inside
// the text, and the spans of comments, quoted and one-line plain scalars
// cover exactly the source text they came from.
void check_scan_contract(std::string_view text, const ScanResult& r) {
    ASSERT_FALSE(r.hit_limit) << "no end after " << r.tokens.size() << " tokens";
    ASSERT_TRUE(r.error || r.ended);
    ASSERT_FALSE(r.tokens.empty());
    EXPECT_EQ(r.tokens.front().type, TokenType::StreamStart);
    if (r.ended) {
        EXPECT_EQ(r.tokens.back().type, TokenType::StreamEnd);
    }
    const std::vector<std::size_t> offsets = char_offsets(text);
    const std::size_t chars = offsets.size() - 1;
    for (std::size_t i = 0; i < r.tokens.size(); ++i) {
        const Token& t = r.tokens[i];
        SCOPED_TRACE("token " + std::to_string(i) + " " + render(t) + " " + span_str(t.span));
        ASSERT_LE(t.span.start.index, t.span.end.index);
        ASSERT_LE(t.span.end.index, chars);
        EXPECT_LE(t.span.start.line, t.span.end.line);
        if (i > 0) {
            EXPECT_NE(t.type, TokenType::StreamStart);
        }
        if (i + 1 < r.tokens.size()) {
            EXPECT_NE(t.type, TokenType::StreamEnd);
        }
        const std::string_view source = text.substr(
            offsets[t.span.start.index], offsets[t.span.end.index] - offsets[t.span.start.index]);
        if (t.type == TokenType::Comment) {
            EXPECT_EQ(source, t.value);
            EXPECT_EQ(t.value.substr(0, 1), "#");
            EXPECT_EQ(t.value.find_first_of("\r\n"), std::string::npos);
        } else if (t.type == TokenType::Scalar && t.style == ScalarStyle::SingleQuoted) {
            ASSERT_GE(source.size(), 2u);
            EXPECT_EQ(source.front(), '\'');
            EXPECT_EQ(source.back(), '\'');
        } else if (t.type == TokenType::Scalar && t.style == ScalarStyle::DoubleQuoted) {
            ASSERT_GE(source.size(), 2u);
            EXPECT_EQ(source.front(), '"');
            EXPECT_EQ(source.back(), '"');
        } else if (t.type == TokenType::Scalar && t.style == ScalarStyle::Plain &&
                   t.span.start.line == t.span.end.line) {
            EXPECT_EQ(source, t.value);
        } else if (t.type == TokenType::DocumentStart || t.type == TokenType::DocumentEnd) {
            EXPECT_EQ(source, t.type == TokenType::DocumentStart ? "---" : "...");
        }
    }
}

TEST(YamlTestSuite, EveryInputEndsInStreamEndOrAnError) {
    if (const std::string reason = suite_missing_reason(); !reason.empty()) GTEST_SKIP() << reason;
    const auto cases = suite_cases();
    ASSERT_GT(cases.size(), 300u) << "suite at " << suite_dir() << " looks incomplete";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        const std::string text = read_file(c.dir / "in.yaml");
        const ScanResult r = scan(text, token_limit(text));
        check_scan_contract(text, r);
        // An error, when it comes, points inside the text.
        if (r.error) {
            EXPECT_LE(r.error->mark.index, char_offsets(text).size() - 1);
        }
    }
}

// Inputs the suite accepts must scan without error, except for the known
// differences listed (check "scan") in tests/suite_known_differences.txt;
// a listed difference that no longer occurs fails too. Inputs the suite
// rejects are not required to fail here: many of those errors belong to the
// parser.
TEST(YamlTestSuite, AcceptedInputsScanWithoutError) {
    if (const std::string reason = suite_missing_reason(); !reason.empty()) GTEST_SKIP() << reason;
    const std::set<std::string> listed = known_differences("scan");
    std::set<std::string> seen;
    for (const auto& c : suite_cases()) {
        if (c.must_fail) continue;
        const std::string text = read_file(c.dir / "in.yaml");
        const ScanResult r = scan(text, token_limit(text));
        const bool failed = r.error.has_value() || r.hit_limit;
        if (listed.count(c.id)) {
            seen.insert(c.id);
            EXPECT_TRUE(failed) << c.id << " is listed as a scan difference but now scans";
        } else {
            EXPECT_FALSE(failed) << c.id << ": "
                                 << (r.error ? r.error->info + " @ " + mark_str(r.error->mark)
                                             : "no end");
        }
    }
    for (const auto& id : listed)
        EXPECT_TRUE(seen.count(id)) << id << " is listed but is no accepted suite input";
}

std::string repeat(std::string_view s, std::size_t n) {
    std::string out;
    out.reserve(s.size() * n);
    for (std::size_t i = 0; i < n; ++i) out += s;
    return out;
}

// Ends in StreamEnd or an error, and a finished scanner stays finished.
void check_terminates(std::string_view text) {
    Scanner s(text);
    Token t;
    Delivery d = Delivery::Token;
    for (std::size_t i = 0; i < token_limit(text) && d == Delivery::Token; ++i) d = s.next_token(t);
    ASSERT_NE(d, Delivery::Token) << "no end";
    EXPECT_EQ(s.next_token(t), d);
}

TEST(HostileInput, EveryInputEndsInTokensOrAnError) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"NUL bytes", std::string("a\0b: [c\0]\n\"x\0\"\n\0\0"sv)},
        {"NUL after indicator", std::string("- \0\n? \0\n: \0"sv)},
        {"lone CR", "a:\r  b\r- c\r\r? d\r: 'e\rf'\r|\r  g\r"},
        {"invalid escapes", "\"\\q\\x\\u12\\U\" '\\' \"\\"},
        {"300 nested brackets", std::string(300, '[')},
        {"300 nested braces with keys", repeat("{a: ", 300)},
        {"300 closing brackets", std::string(300, ']')},
        {"1 MB line", std::string(1 << 20, 'a')},
        {"100 KB key", std::string(100'000, 'k') + ": v"},
        {"100 KB quoted key", "\"" + std::string(100'000, 'k') + "\": v"},
        {"tabs everywhere", "\t-\t[\ta\t:\tb\t]\t\n\t\t?\t\n\t:\t\t|\t\n\t\tx\n\t\"\t\"\t#\t\n"},
        {"byte-order marks inside",
         "\xEF\xBB\xBF"
         "a: \xEF\xBB\xBF"
         "b\n&\xEF\xBB\xBF x"},
        {"deep block nesting", repeat("- ", 5000) + "a"},
        {"deep indentation",
         [] {
             std::string s;
             for (int i = 0; i < 2000; ++i) s += std::string(i, ' ') + "k:\n";
             return s;
         }()},
        {"many documents", repeat("---\n...\n", 10000)},
        {"many comments", repeat("# c\n", 10000)},
        {"long tag", "!" + repeat("%41", 50'000) + " a"},
        {"long block scalar", "|\n" + repeat("  line\n", 50'000)},
        {"unclosed everything", "[{\"a: 'b: |\n  c"},
    };
    for (const auto& [name, text] : cases) {
        SCOPED_TRACE(name);
        check_scan_contract(text, scan(text, token_limit(text)));
        check_terminates(text);
    }
    EXPECT_EQ(error_of(std::string(300, '[')), "recursion limit exceeded @ 255:1:255");
    EXPECT_EQ(scan(std::string(1 << 20, 'a')).tokens.at(1).value.size(), std::size_t{1} << 20);
}

}  // namespace
}  // namespace brackle_test
