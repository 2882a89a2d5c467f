// Inputs that the fuzz targets in fuzz/ found breaking the core, minimised.
// Each must load, come back byte for byte when emitted unchanged, and, when
// emitted with each set of options that breaks the alignment with the
// source, give a text that loads again.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/src/emitter/emitter.hpp"
#include "core/src/loader.hpp"
#include "tests/cpp/data_events.hpp"
#include "tests/cpp/emit_option_sets.hpp"

namespace brackle_test {
namespace {

using brackle_core::Document;
using brackle_core::EmitError;
using brackle_core::EmitOptions;
using brackle_core::ParseError;

// The text with LF as \n and other control characters as \xHH, for messages.
std::string escape(std::string_view s) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    for (const char c : s) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '\n') {
            out += "\\n";
        } else if (b < 0x20) {
            out += "\\x";
            out += hex[b >> 4];
            out += hex[b & 15];
        } else {
            out += c;
        }
    }
    return out;
}

// The documents of `input`, or a test failure and nothing.
std::optional<std::vector<Document>> load(const std::string& input) {
    auto loaded = brackle_core::loader::parse(input);
    if (const auto* e = std::get_if<ParseError>(&loaded)) {
        ADD_FAILURE() << "load error: " << e->message;
        return std::nullopt;
    }
    return std::move(std::get<std::vector<Document>>(loaded));
}

// The text that `documents` emit with `options`, or a test failure and nothing.
std::optional<std::string> emit(const std::vector<Document>& documents,
                                const EmitOptions& options) {
    auto emitted = brackle_core::emitter::emit(documents, options);
    if (const auto* e = std::get_if<EmitError>(&emitted)) {
        ADD_FAILURE() << "emit error: " << e->message();
        return std::nullopt;
    }
    return std::move(std::get<std::string>(emitted));
}

void expect_round_trips(const std::vector<std::string>& inputs) {
    for (const std::string& input : inputs) {
        SCOPED_TRACE("input: " + escape(input));
        const auto documents = load(input);
        if (!documents) continue;
        if (const auto unchanged = emit(*documents, EmitOptions{})) {
            EXPECT_EQ(escape(*unchanged), escape(input));
        }
        for (const auto& [name, options] : alignment_breaking_options()) {
            SCOPED_TRACE(name);
            const auto emitted = emit(*documents, options);
            if (!emitted) continue;
            const auto reloaded = brackle_core::loader::parse(*emitted);
            if (const auto* e = std::get_if<ParseError>(&reloaded))
                ADD_FAILURE() << "emitted " << escape(*emitted) << " does not load: " << e->message;
        }
    }
}

// For texts that cannot come back byte for byte (lines that end in a lone
// CR, layouts the README lists): emitted unchanged and with each set of
// options that breaks the alignment, each reads back as the same data.
void expect_same_data(const std::vector<std::string>& inputs) {
    for (const std::string& input : inputs) {
        SCOPED_TRACE("input: " + escape(input));
        const auto documents = load(input);
        if (!documents) continue;
        std::vector<NamedOptions> sets = alignment_breaking_options();
        sets.insert(sets.begin(), NamedOptions{"unchanged", EmitOptions{}});
        for (const auto& [name, options] : sets) {
            SCOPED_TRACE(name);
            if (const auto text = emit(*documents, options)) {
                EXPECT_EQ(data_events(*text), data_events(input)) << "emitted " << escape(*text);
            }
        }
    }
}

TEST(FuzzRegressions, AColonWithTextRightAfterItBeginsAKeyNotTheValueBefore) {
    // In a block mapping the value's `:` is followed by white space: `::`
    // and `:c:` on the line after a bare `?` begin the next key, and the
    // `?` entry has no `:` of its own to write.
    expect_round_trips({"?\n::", "? a\n:c: d\n", "- ? x\n  :c: d\n", "a:\n  ? b\n  :c: d\n"});
}

TEST(FuzzRegressions, ACommentLineInsideAPlainScalarIsWrittenOnce) {
    // A tab-indented line that holds only a comment does not end a plain
    // scalar: the comment stands in the scalar's raw text, and nowhere else.
    expect_round_trips({"? a\n\t#\n d", "k: a\n\t# c\n  d # e\nz: 1\n", "k: a\n\n\t# c\n\n  d\n",
                        "x:\n- a\n\t#x\n  b\n- c\n"});
}

TEST(FuzzRegressions, BlanksEndingATextAfterADocumentEndMarkerAreWrittenOnce) {
    // The lines after the last `...` are kept whole, the last one, without
    // a line break, included: no tail is left to write again.
    expect_round_trips({"...\n#\n ", "a\n...\n...\n# c\n ", "...\n# a\n\n\t "});
}

TEST(FuzzRegressions, TheColonsCommentStaysAboveABlockScalarsProperties) {
    // Found by the round-trip property test: the comment after the key went
    // after the properties, and the header to the line below them.
    expect_round_trips({"k:  # c\n &a |\n  - *a\n", "k: # c\n  &a | # d\n   x\n",
                        "k: # c\n  # d\n  !t >\n   x\n"});
}

TEST(FuzzRegressions, ABlankLineAfterACommentLeftOfACollectionStaysAfterIt) {
    // The blank line between a comment left of a nested collection and one
    // inside it went before the first comment.
    expect_round_trips(
        {"p:\n#\n\n #\n l:", "p:\n#\n\n #\n l: 1\n", "a: 1\nb:\n# c\n\n  # d\n  - x\n"});
}

TEST(FuzzRegressions, ACommentOnALoneDocumentEndMarkerIsWrittenOnce) {
    expect_round_trips({"... #\nb", "... # c\nb\n", "... # c\n--- b\n", "a\n... # c\nb # d\n"});
}

TEST(FuzzRegressions, AnEmptyFlowCollectionKeepsItsCommentBeforeItsClosingBracket) {
    expect_round_trips({"{ #\n}", "[ # c\n]\n", "k: { # c\n  }\n", "- [ # c\n  ]\n"});
}

TEST(FuzzRegressions, AFlowColonOnTheLineAfterTheKeysCommentKeepsItsColumn) {
    expect_round_trips({"{f #\n:}", "{a # c\n: b}\n", "k: {a # c\n  : b}\n", "[{f #\n :}]\n"});
}

TEST(FuzzRegressions, AFlowCollectionsLastGapKeepsItsBlanksBeforeAComment) {
    // The comment on a line of its own before the closing bracket belongs to
    // the collection; the gap that holds it comes back whole, the blank
    // before the comma too.
    expect_round_trips({"{ a: b ,\n  # e\n  }\n", "[ a ,\n  # e\n  ]\n",
                        "- { \"a\"  : b\n   , c : 'd' ,\n  # e\n  }\n"});
}

TEST(FuzzRegressions, AColonAfterAnEmptyValueBelongsToTheEntryItEnds) {
    // The `:` of a key's empty value is that entry's alone: neither a mapping
    // holding the key nor the key's own mapping may take another's colon.
    expect_round_trips({
        "? a:\n",
        "? key:\nkey:\n",
        "? a:\nb: c\n",
        "- ? a:\n  : b\n",
        "? - b:\n: c\n",
        "? ? x\n: v\n",
        "? ? x\n:\n",
        "a:  ",
    });
}

TEST(FuzzRegressions, PropertiesWithNothingAfterThemStandAloneAsAFlowSequenceItem) {
    // An anchor or a tag is the whole item: no empty quotes are added after it.
    expect_round_trips({
        "[!]\n",
        "[!, c]\n",
        "[&x]\n",
        "[&x !]\n",
        "[!, !!str ]\n",
        "- [!]\n",
        "{a: [!,\x16"
        "c], [d,\n e]: f}\n",
    });
}

TEST(FuzzRegressions, BlanksAfterAnEmptyLastValueWithoutAFinalBreakAreKept) {
    // The empty value stands at the end of the text, after the blanks.
    expect_round_trips({
        "- \t",
        "- - \t",
        "? a:  ",
        "- a\n-  ",
        "a: &x \t",
    });
}

TEST(FuzzRegressions, AKeyWithoutValueKeepsItsCommaWhenItsFlowMappingBreaksOverLines) {
    // Too long for one line, the mapping is broken item by item: the comma
    // that stood between the key and its absent value is still written.
    const std::string long_key = "\"multi\\tline " + std::string(90, 'a') + "\"";
    expect_round_trips({
        "- {" + long_key + ", a: b}\n",
        "- {multi\n  line" + std::string(30, '\x04') + ", a: b}\n",
        "{" + long_key + " , " + long_key + ", c}\n",
    });
}

TEST(FuzzRegressions, AnEmptyKeyBeforeAValueMappingOnItsLineKeepsTheNesting) {
    // `: :` holds a mapping as the value of an empty key. In step it stays on
    // the colon's line; out of step it moves to a line of its own, indented:
    // at the outer colon's column it would read as a second entry.
    const std::vector<std::string> inputs = {": :\n", "- : :\n", ": : :\n", "- : - a\n"};
    expect_round_trips(inputs);
    for (const std::string& input : inputs) {
        SCOPED_TRACE("input: " + escape(input));
        const auto loaded = brackle_core::loader::parse(input);
        ASSERT_TRUE(std::holds_alternative<std::vector<Document>>(loaded));
        for (const auto& [name, options] : alignment_breaking_options()) {
            const auto emitted =
                brackle_core::emitter::emit(std::get<std::vector<Document>>(loaded), options);
            ASSERT_TRUE(std::holds_alternative<std::string>(emitted)) << name;
            EXPECT_EQ(data_events(std::get<std::string>(emitted)), data_events(input))
                << name << ": " << escape(std::get<std::string>(emitted));
        }
    }
}

TEST(FuzzRegressions, AColonAfterAnEmptyFlowKeyOnItsOwnLineStaysInsideTheCollection) {
    // Written out of step with the source, the colon begins its line: at
    // column 0 it would stand left of the block that holds the flow mapping.
    expect_round_trips({
        "k: {\n#k\n :\n v\n }\n",
        "- [\n #c\n : v]\n",
    });
}

TEST(FuzzRegressions, AFlowCollectionRightAfterAnAnchorStaysThere) {
    // A flow indicator ends an anchor: no space was needed, and none is added.
    expect_round_trips({
        "? &a{a: b}",
        "&a[x]\n",
        "a: &x[1]\n",
        // A dash moved by the sequence offset still has its space.
        "k:\n- -c\n",
        "uences:\n- -ce:\n-  {}\n",
    });
}

TEST(FuzzRegressions, AContentRightAfterAPropertyStaysThere) {
    // A U+FEFF ends an anchor too, and the scalar it begins follows at once;
    // in a flow sequence, the gaps around the pair are cut past it (without
    // them the pair once came back as `{&c \uFEFFxd}`, its colon lost).
    expect_round_trips({"&c\xEF\xBB\xBF", "- &a\xEF\xBB\xBF\n", "[&c\xEF\xBB\xBFx: d]\n"});
}

TEST(FuzzRegressions, AnEmptyKeysColonStaysInItsValuesGap) {
    // The colon and the comment after it were cut into the empty key's gap,
    // so the pair came back as `[,]`: no text, and no comment.
    expect_round_trips({"[:\n #foo\n]", "[: #foo\n]", "- [:\n\t\n #foo\n ]"});
}

TEST(FuzzRegressions, ARootBlockScalarsHeaderCommentStaysOnItsHeaderAfterLeadingComments) {
    expect_round_trips({"# S\n>  # C\n x\n", " # S\n> # C\n x\n", "# S\n&a # C\nx\n"});
}

TEST(FuzzRegressions, AColonRightAfterAMovedQuestionMarkIsSetOff) {
    // The `?` moved down to its key's line, and `?: x` read as the key `?`.
    expect_same_data({"- ?\n   : x\n"});
}

TEST(FuzzRegressions, AHeaderCharacterInAnAnchorIsNoBlockScalarHeader) {
    expect_round_trips({"&--|- |1", "&a|b >\n x\n"});
}

TEST(FuzzRegressions, AHeaderCommentReadBeforeTheDocumentStartIsNotTheDirectives) {
    // The directive text `...` was taken to hold the comment, which was lost.
    expect_round_trips({"...\n| # c\n x\n", "...\n| #\n%x\n"});
}

TEST(FuzzRegressions, AValuesCommentEchoedWithItsGapIsWrittenOnce) {
    // The comment after the colon stands in the gap; the value's properties
    // on the next line must not write it again.
    expect_round_trips({"{a: # c\n  &x\n  v}\n", "[a: # c\n  !t\n  v]\n"});
}

TEST(FuzzRegressions, AnEmptyVerbatimTagIsWrittenAsItWasRead) {
    expect_round_trips({"- !<> a\n", "!<>\n", "- {\n  !<>\n }\n"});
}

TEST(FuzzRegressions, EachLineKeepsItsOwnBreak) {
    expect_round_trips({"a: 1\r\nb: 2\n", "a: 1\rb: [x,\r y]\r", "\r", "...\r", "{\r}", "e\r}\n",
                        "k: |\r  x\r\n  y\n"});
}

TEST(FuzzRegressions, ABlankLineThatBeginsTheStreamsTailIsWrittenOnce) {
    // The blank line is one of the stream's blank lines; the tail keeps only
    // what follows its line feed.
    expect_round_trips({
        "\t\n\t",
        " \n ",
        "# c\n\t\n\t",
        "---\n\t\n\t",
    });
}

TEST(FuzzRegressions, AKeyIndicatorThatWouldEndTheTextGetsItsLineEnded) {
    // Out of step with the source, nothing follows the `?` of an empty key,
    // and a `?` at the very end of a text does not load.
    expect_round_trips({
        "? ",
        "a:\n  ? ",
    });
}

TEST(FuzzRegressions, TriviaAroundAnEmptyNodeStayWhereTheyStood) {
    // The parser places an empty key, root or sequence item with properties
    // at the token after it; the blank lines and comments before that token
    // follow the empty node.
    expect_round_trips({
        "?\n\n",
        "? \n\n: b\n",
        "!a\n\n",
        "&a\n# c\n",
        "?\n# c\n? b\n",
        "? # c\n",
        "? a\n? # c\n: b\n",
        "? # c\n  a\n: b\n",
        "x:\n  ? # c\n    a\n",
        "? # c\n  - a\n",
        "--- !a # c\n",
        "- !\n\n- a\n",
        "- &a\n  # c\n- a\n",
        "- - &a\n\n- b\n",
        "- !\n ",
        // An empty key written as its `:` stands at that colon.
        ":\n\n:",
        "a: 1\n\n: b\n",
        ": a\n# c\n: b\n",
        // An empty node stands after its `?`: a nested one on that line too.
        "? ?\n",
        "- ? # c\n",
        "? !a#b # c\n",
        // The next key after an empty one is read from after its `?`.
        "?\nb: c\n",
        "? \nb:",
    });
}

TEST(FuzzRegressions, TriviaBeforeADocumentEndMarkerStayBeforeIt) {
    expect_round_trips({
        "a\n# c\n...\n",
        "a: b\n \n\n...\n",
        "- a\n\n...\n",
        "a: b\n# c\n\n...\n",
        "---\n# c\n...\n",
        "?\n\n...\n",
    });
}

TEST(FuzzRegressions, ANulEndsTheStreamForTheWholeRoundTrip) {
    // The text after a NUL is not read: what is written stops where the
    // stream did, and loads again with a document start marker before it.
    for (const std::string_view input :
         {std::string_view("-\0\n%", 4), std::string_view("a: b\n\0\nc: d\n", 13),
          std::string_view("# c\0d\n", 7)}) {
        SCOPED_TRACE("input: " + escape(input));
        const auto loaded = brackle_core::loader::parse(input);
        ASSERT_TRUE(std::holds_alternative<std::vector<Document>>(loaded));
        const auto& documents = std::get<std::vector<Document>>(loaded);
        const auto emitted = brackle_core::emitter::emit(documents, EmitOptions{});
        ASSERT_TRUE(std::holds_alternative<std::string>(emitted));
        EXPECT_EQ(escape(std::get<std::string>(emitted)),
                  escape(input.substr(0, input.find('\0'))));
        for (const auto& [name, options] : alignment_breaking_options()) {
            const auto again = brackle_core::emitter::emit(documents, options);
            ASSERT_TRUE(std::holds_alternative<std::string>(again)) << name;
            EXPECT_TRUE(std::holds_alternative<std::vector<Document>>(
                brackle_core::loader::parse(std::get<std::string>(again))))
                << name << ": " << escape(std::get<std::string>(again));
        }
    }
}

TEST(FuzzRegressions, TheGapAfterAFlowKeyWithoutValueStopsAtTheNextItem) {
    // The next item's text may begin with a character that a gap holds too:
    // it is written once, as the item's.
    expect_round_trips({
        "{u,:v}",
        "{q,?}",
        "{y,\x0c}",
        "{u,\u2028}",
        "{a, b: c, ? , :d}",
        // A pair without braces ends at the sequence's comma.
        "- [? ,c]",
        "- [:,r]",
    });
}

TEST(FuzzRegressions, ADocumentAfterAnEndMarkerRegionBeginsItsOwnLine) {
    // `...` lines before the first document are kept as written; a root
    // written out of step must not join the marker's line.
    expect_round_trips({
        "...\n:",
        "\r...\n...\n|",
        "...\n- a\n",
    });
}

TEST(FuzzRegressions, WhiteSpaceAfterTheLastCommentEndsTheStreamAsWritten) {
    // The stream's tail begins after the last comment as well as after the
    // last content.
    expect_round_trips({
        "#\n ",
        "# c\n\n  ",
        "a: 1 # x\n ",
        "- a\n  # c\n  ",
        // ... and after the properties or `?` of an empty node.
        "!\n ",
        "&c\n ",
        "?\n ",
        // ... after a `...`, and after a block collection whose end token
        // stands at the stream's end.
        "a\n...\n ",
        "? a: b\n ",
        "? k: \n ",
        // ... and after a block scalar, which ends in the next line's
        // indentation.
        "- |\n  a\n\t",
        "k: |\n  a\n \t",
        "|\r\n a\r\n\t",
    });
}

TEST(FuzzRegressions, ABlockScalarHeaderOnALineOfItsOwnStaysRightOfItsIndicator) {
    // Out of step (after a `---` the source did not have), the header came
    // back at column 0, where it ends the block.
    expect_round_trips({
        "- #\n >",
        ": #\n >",
        "- # c\n  |\n  x\n",
    });
}

TEST(FuzzRegressions, PropertiesOfASequenceValueOnTheirOwnLineStandRightOfTheKey) {
    // The dashes may stand at the key's column, the properties may not: at
    // column 0 they began the next key.
    expect_same_data({":\n\n &n\n-", "k:\n\n  &n\n- a\n"});
}

TEST(FuzzRegressions, TextMovedOntoALineOfBlanksIsNotIndentedByItsTabs) {
    // A property whose blank line moves after it lands on that line: the
    // line's tab, written before it, would read as indentation.
    expect_same_data({":\n\t \n !", "a:\n\t \n !\n", "a:\n \t \n  !t\n"});
}

TEST(FuzzRegressions, ACollectionWrittenInAnotherStyleEndsTheLineForLineCopy) {
    // Written in flow style, the collection left the writer in step with
    // the source, which then copied a source line's tabs after a `?`.
    expect_round_trips({
        "omplex1:\n !\t\t\xe2\x80\xa8\t\t\t\t\tz\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t"
        "\t001F600-4:\n  ? >\n",
    });
}

TEST(FuzzRegressions, ABlockScalarWithoutContentLinesStandsAtItsHeader) {
    // It stood at the next line's start, and took the comment there (after
    // the next item's dash) for its own.
    expect_round_trips({
        "- >\n- #",
        "- |\n- # c\n- a\n",
        "- |+\n\n- # c\n",
    });
}

TEST(FuzzRegressions, TriviaAfterAPairWithoutBracesAreItsSequencesOnce) {
    // The pair ends at the sequence's next `,` or `]`; the blank line before
    // it was also held by the pair, and came back twice.
    expect_round_trips({
        "[:\n\n]",
        "[: b\n\n]",
        "[: b\n# c\n]",
        "- [:\n\n ]",
        // Out of step, a `?` or `,` after the blank line came back at
        // column 0, left of the block the sequence stands in.
        "- [a,?\n\n ]",
        "- [a,? b\n\n ]",
    });
}

TEST(FuzzRegressions, AFlowKeyWithoutValueKeepsTheCommaAndCommentAfterIt) {
    // The comma and the comment stood in the gap before the absent value;
    // without them `{q\n r}` would read as the one key `q r`.
    expect_round_trips({
        "{q, # c\n r}",
        "{q, # c\n}",
        "{q, #\n}",
        "[{q, # c\n r}]",
        "{a: 1, q, # c\n r: 2}",
    });
}

TEST(FuzzRegressions, AMultiLineScalarMovedRightOfItsColumnIsNotWrittenFromItsSource) {
    // A sequence offset moves the item right; the source's continuation line
    // would then stand left of it.
    expect_round_trips({
        ":\n- -r\n -",
        "a:\n- -r\n -",
        ":\n- --\n }",
    });
}

TEST(FuzzRegressions, LinesEndingInALoneCrComeBackByteForByte) {
    // Once laid out by indentation, since lines were counted two ways.
    expect_round_trips({
        "|+\r a\r",
        "- >+\r  a\r",
        "k: |+\r  a\r",
        "-\r  &a k: a\r",
        "k: |\r  x\nj : \n",
        "k: a\rk: a\nk:\t# t\nj: a\n",
        "...\r ---",
        "  : |+\r  :",
    });
}

TEST(FuzzRegressions, AFlowCollectionBrokenOverLinesStaysRightOfItsBlock) {
    // Its items and closing bracket stand right of the innermost block
    // (`- - [` holds two), and right of a key whose value it is.
    expect_round_trips({
        "- - [{} #\n   ]\n",
        "- - {[[],q\n    r]}",
        "- q: [{}, " + std::string(40, 'a') + "]\n",
    });
    expect_round_trips({"- -\t[   [],!<x>[]]\r", "- q\":   !!str [{}]\r"});
}

TEST(FuzzRegressions, AnEmptyBlockScalarLeavesTheNextLinesIndentation) {
    // Written back as the scalar's, the blanks would make an empty line.
    expect_round_trips({
        " - >+\n -",
        "  k: |+\n  j: 1",
        " - |+\n  \n -",
        // A line of blanks and a tab after the scalar is no indentation.
        " - |+\n \t\n -",
    });
}

TEST(FuzzRegressions, BlanksEndingTheTextAfterABlockScalarStayOnTheirLine) {
    // Joined to the scalar's last line, a tab would be content.
    expect_round_trips({"|\n x\n\t", "- |\n\n\t", "k: >+\n  x\n\t"});
    expect_round_trips({"|\n x\r\t", "- |+\r\r\t"});
}

}  // namespace
}  // namespace brackle_test
