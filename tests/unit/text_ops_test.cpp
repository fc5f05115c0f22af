// The text operations and textBetween, as tables of cases.
//
// Byte escapes are split from the letters after them ("\x81" "v"), because a
// hex escape would otherwise swallow a following hex digit.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "release/text_ops.h"

namespace release {
namespace {

// "乿" is 0x81 0x76: its trail byte is the ASCII letter v.
const std::string LEAD_81_TRAIL_V = "\x81" "v";
// "中"
const std::string ZHONG = "\xD6\xD0";
// "𠀀": a four-byte GB18030 sequence, stepped as two two-byte units.
const std::string FOUR_BYTE = "\x95\x32\x82\x36";

template <typename Case>
std::string caseName(const testing::TestParamInfo<Case>& info) {
    return info.param.name;
}

// ---------------------------------------------------------------- findText

struct FindCase {
    const char* name;
    std::string text;
    std::string needle;
    Position start;
    bool ignoreCase;
    Position expected;
};

const std::vector<FindCase> FIND_CASES = {
    {"StartZeroFindsFirst", "abcabc", "bc", 0, false, 2},
    {"StartOneFindsFirst", "abcabc", "bc", 1, false, 2},
    {"StartMinusOneFindsFirst", "abcabc", "bc", -1, false, 2},
    {"StartMostNegativeFindsFirst", "abcabc", "bc", INT_MIN, false, 2},
    {"StartPastFirstFindsSecond", "abcabc", "bc", 3, false, 5},
    {"StartAtMatchFindsIt", "abcabc", "bc", 5, false, 5},
    {"StartOnLastByteFindsIt", "abc", "c", 3, false, 3},
    {"StartOnePastEndFails", "abc", "c", 4, false, -1},
    {"StartFarPastEndFails", "abc", "c", INT_MAX, false, -1},
    {"MissingNeedleFails", "abc", "x", 0, false, -1},
    {"NeedleLongerThanTextFails", "ab", "abc", 0, false, -1},
    {"NeedleEqualToTextAtOne", "abc", "abc", 0, false, 1},
    {"NeedleAtVeryEnd", "xxabc", "abc", 0, false, 3},
    {"NeedleCutByEndFails", "xxab", "abc", 0, false, -1},
    {"EmptyTextFails", "", "a", 0, false, -1},
    {"EmptyNeedleYieldsOne", "abc", "", 0, false, 1},
    {"EmptyNeedleYieldsOneWhateverStartInside", "abc", "", 3, false, 1},
    {"EmptyNeedleStartPastEndFails", "abc", "", 4, false, -1},
    {"EmptyNeedleOnEmptyTextFails", "", "", 0, false, -1},
    {"AsciiNeedleNeverMatchesTrailByte", LEAD_81_TRAIL_V + "ar link1", "var link1", 0, false, -1},
    {"AsciiNeedleFoundAfterTrailByteCandidate", LEAD_81_TRAIL_V + "ar link1 var link1", "var link1", 0, false, 12},
    {"AsciiNeedleAfterTwoByteCharacter", ZHONG + "var", "var", 0, false, 3},
    {"TwoByteNeedleAtUnitStart", "ab" + ZHONG, ZHONG, 0, false, 3},
    {"TwoByteNeedleAcrossUnitsFails", "\xB0" + ZHONG + "\xB0", ZHONG, 0, false, -1},
    {"FourByteSequenceSecondHalfIsAUnit", FOUR_BYTE + "x", "\x82\x36", 0, false, 3},
    {"FourByteSequenceDigitNotMatched", FOUR_BYTE + "2", "2", 0, false, 5},
    {"LeadByteAsLastByteIsTried", "ab\xD6", "\xD6", 0, false, 3},
    {"LeadByteAsLastByteEndsSearch", "a\xD6", "b", 0, false, -1},
    {"StartOnTrailByteStepsFromThere", LEAD_81_TRAIL_V + "ar", "var", 2, false, 2},
    {"LongAsciiRunBeforeMatch", std::string(40, 'a') + "var", "var", 0, false, 41},
    {"TrailByteAfterLongAsciiRunNotMatched", std::string(17, 'a') + LEAD_81_TRAIL_V + "ar", "var", 0, false, -1},
    {"MatchAfterMixedRun", std::string(9, 'a') + ZHONG + LEAD_81_TRAIL_V + "ar" + std::string(9, 'b') + "var", "var", 0,
     false, 25},
    {"CaseSensitiveByDefault", "VAR link1", "var", 0, false, -1},
    {"IgnoreCaseFoldsAsciiLetters", "xVAR LINK1", "var link1", 0, true, 2},
    {"IgnoreCaseKeepsOtherAsciiExact", "[", "{", 0, true, -1},
    {"IgnoreCaseStillStepsUnits", "\x81" "VAR", "var", 0, true, -1},
    {"IgnoreCaseFromStart", "aXbx", "x", 3, true, 4},
};

class FindTextTest : public testing::TestWithParam<FindCase> {};

TEST_P(FindTextTest, Position) {
    const FindCase& c = GetParam();
    EXPECT_EQ(findText(c.text, c.needle, c.start, c.ignoreCase), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, FindTextTest, testing::ValuesIn(FIND_CASES), caseName<FindCase>);

TEST(FindText, OmittedStartSearchesFromFirstByte) {
    EXPECT_EQ(findText("abcabc", "c"), 3);
}

// ----------------------------------------------------------------- midText

struct MidCase {
    const char* name;
    std::string text;
    Position start;
    Position length;
    std::string expected;
};

const std::vector<MidCase> MID_CASES = {
    {"WholeText", "abc", 1, 3, "abc"},
    {"Middle", "abcde", 2, 3, "bcd"},
    {"LengthPastEndGivesRest", "abc", 2, 100, "bc"},
    {"LengthIntMaxGivesRest", "abc", 1, INT_MAX, "abc"},
    {"StartOnLastByte", "abc", 3, 5, "c"},
    {"StartZeroIsEmpty", "abc", 0, 2, ""},
    {"StartMinusOneIsEmpty", "abc", -1, 2, ""},
    {"StartIntMinIsEmpty", "abc", INT_MIN, 2, ""},
    {"StartOnePastEndIsEmpty", "abc", 4, 1, ""},
    {"StartFarPastEndIsEmpty", "abc", INT_MAX, 1, ""},
    {"LengthZeroIsEmpty", "abc", 1, 0, ""},
    {"LengthNegativeIsEmpty", "abc", 2, -1, ""},
    {"EmptyTextIsEmpty", "", 1, 1, ""},
    {"CutsTwoByteCharacter", ZHONG, 1, 1, "\xD6"},
    {"StartsOnTrailByte", ZHONG + "a", 2, 2, "\xD0" "a"},
};

class MidTextTest : public testing::TestWithParam<MidCase> {};

TEST_P(MidTextTest, Slice) {
    const MidCase& c = GetParam();
    EXPECT_EQ(midText(c.text, c.start, c.length), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, MidTextTest, testing::ValuesIn(MID_CASES), caseName<MidCase>);

// -------------------------------------------------------------- textLength

struct LengthCase {
    const char* name;
    std::string text;
    Position expected;
};

const std::vector<LengthCase> LENGTH_CASES = {
    {"Empty", "", 0},
    {"Ascii", "abc", 3},
    {"TwoByteCharacterCountsTwo", ZHONG, 2},
    {"FourByteSequenceCountsFour", FOUR_BYTE, 4},
    {"QuotePlaceholderIsFiveBytes", std::string(QUOTE_PLACEHOLDER), 5},
};

class TextLengthTest : public testing::TestWithParam<LengthCase> {};

TEST_P(TextLengthTest, Bytes) {
    EXPECT_EQ(textLength(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, TextLengthTest, testing::ValuesIn(LENGTH_CASES), caseName<LengthCase>);

// -------------------------------------------------------------- replaceAll

struct ReplaceCase {
    const char* name;
    std::string text;
    std::string sought;
    std::string replacement;
    std::string expected;
};

const std::vector<ReplaceCase> REPLACE_CASES = {
    {"EveryOccurrence", "a-b-c", "-", "+", "a+b+c"},
    {"EmptyTextUnchanged", "", "a", "b", ""},
    {"EmptySoughtUnchanged", "abc", "", "x", "abc"},
    {"NotFoundUnchanged", "abc", "x", "y", "abc"},
    {"LongerReplacement", "a-b", "-", "<->", "a<->b"},
    {"EmptyReplacementDeletes", "a-b-", "-", "", "ab"},
    {"LeftToRightWithoutOverlap", "aaa", "aa", "b", "ba"},
    {"ReplacementNotScannedAgain", "ab", "a", "aa", "aab"},
    {"CaseSensitive", "Aa", "a", "b", "Ab"},
    {"SoughtLongerThanText", "ab", "abc", "x", "ab"},
    {"TailShorterThanSoughtKept", "abcab", "abc", "x", "xab"},
    {"TrailByteNotReplaced", LEAD_81_TRAIL_V + "v", "v", "w", LEAD_81_TRAIL_V + "w"},
    {"TwoByteCharacterReplaced", "a" + ZHONG + "b", ZHONG, "-", "a-b"},
    {"LeadByteAtEndKept", "a\xD6", "a", "b", "b\xD6"},
    {"QuotePlaceholderToQuote", "x" + std::string(QUOTE_PLACEHOLDER) + "y", std::string(QUOTE_PLACEHOLDER), "\"",
     "x\"y"},
};

class ReplaceAllTest : public testing::TestWithParam<ReplaceCase> {};

TEST_P(ReplaceAllTest, Result) {
    const ReplaceCase& c = GetParam();
    EXPECT_EQ(replaceAll(c.text, c.sought, c.replacement), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, ReplaceAllTest, testing::ValuesIn(REPLACE_CASES), caseName<ReplaceCase>);

// -------------------------------------------------------------- concatText

TEST(ConcatText, NoPartsIsEmpty) { EXPECT_EQ(concatText({}), ""); }
TEST(ConcatText, OnePart) { EXPECT_EQ(concatText({"abc"}), "abc"); }
TEST(ConcatText, PartsInOrder) { EXPECT_EQ(concatText({"a", "", "b" + ZHONG, "c"}), "ab" + ZHONG + "c"); }
TEST(ConcatText, SplitCharacterJoinsAgain) { EXPECT_EQ(concatText({"\xD6", "\xD0"}), ZHONG); }

// ------------------------------------------------------------- bytesToText

struct BytesCase {
    const char* name;
    std::string bytes;
    std::string expected;
};

const std::vector<BytesCase> BYTES_CASES = {
    {"EmptyBuffer", "", ""},
    {"NoZeroByteKeepsAll", "abc" + ZHONG, "abc" + ZHONG},
    {"ZeroByteInMiddleEndsText", std::string("ab\0cd", 5), "ab"},
    {"ZeroByteFirstIsEmpty", std::string("\0abc", 4), ""},
    {"ZeroByteLastDropsIt", std::string("abc\0", 4), "abc"},
    {"FirstOfTwoZeroBytesCounts", std::string("a\0b\0c", 5), "a"},
};

class BytesToTextTest : public testing::TestWithParam<BytesCase> {};

TEST_P(BytesToTextTest, Text) {
    EXPECT_EQ(bytesToText(GetParam().bytes), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, BytesToTextTest, testing::ValuesIn(BYTES_CASES), caseName<BytesCase>);

// ------------------------------------------------------------- textBetween

struct BetweenCase {
    const char* name;
    std::string text;
    std::string left;
    std::string right;
    Position start;
    bool ignoreCase;
    std::string expected;
};

const std::string Q(QUOTE_PLACEHOLDER);

const std::vector<BetweenCase> BETWEEN_CASES = {
    {"ValueBetweenDelimiters", "<a>x</a>", "<a>", "</a>", 0, false, "x"},
    {"LeftAtVeryEndIsEmpty", "abc<", "<", ">", 0, false, ""},
    {"RightDirectlyAfterLeftIsEmpty", "a<>b", "<", ">", 0, false, ""},
    {"LeftMissingIsEmptyEvenWithRight", "abc>", "<", ">", 0, false, ""},
    {"RightMissingIsEmpty", "<abc", "<", ">", 0, false, ""},
    {"EarlierRightPassedOver", ">a<b>", "<", ">", 0, false, "b"},
    {"FirstLeftCounts", "<1><2>", "<", ">", 0, false, "1"},
    {"FirstRightAfterLeftCounts", "<1>2>", "<", ">", 0, false, "1"},
    {"StartPositionSkipsFirstLeft", "<1><2>", "<", ">", 3, false, "2"},
    {"StartPastEndIsEmpty", "<1>", "<", ">", 4, false, ""},
    {"PlaceholderInLeftMatchesQuote", "a=\"v\";", "a=" + Q, "\";", 0, false, "v"},
    {"PlaceholderInBothDelimiters", "x=\"v\"", Q, Q, 0, false, "v"},
    {"PlaceholderTextItselfNotMatched", "a=" + Q + "v" + Q, "a=" + Q, Q, 0, false, ""},
    {"CaseSensitiveByDefault", "<A>x</A>", "<a>", "</a>", 0, false, ""},
    {"IgnoreCaseFoldsAsciiLetters", "<A>x</A>", "<a>", "</a>", 0, true, "x"},
    {"RightInsideTwoByteCharacterPassedOver", "<\x81>x>", "<", ">", 0, false, "\x81>x"},
    {"LeftOnTrailByteNotMatched", LEAD_81_TRAIL_V + "ar=1;", "var=", ";", 0, false, ""},
    {"ChineseValue", "[" + ZHONG + "]", "[", "]", 0, false, ZHONG},
    {"EmptyLeftStartsAtFirstByte", "abc>", "", ">", 0, false, "abc"},
    {"EmptyTextIsEmpty", "", "<", ">", 0, false, ""},
    {"SentinelAsRight", "var link1 = \"http://x\xBA\xF3\xCE\xC4\xB1\xBE", "var link1 = \"", "\xBA\xF3\xCE\xC4\xB1\xBE",
     0, false, "http://x"},
};

class TextBetweenTest : public testing::TestWithParam<BetweenCase> {};

TEST_P(TextBetweenTest, Value) {
    const BetweenCase& c = GetParam();
    EXPECT_EQ(textBetween(c.text, c.left, c.right, c.start, c.ignoreCase), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, TextBetweenTest, testing::ValuesIn(BETWEEN_CASES), caseName<BetweenCase>);

// Texts are values: no operation alters its arguments.
TEST(TextOperations, ArgumentsUnchanged) {
    const Text text = "a-b" + ZHONG;
    const Text sought = "-";
    (void)replaceAll(text, sought, "+");
    (void)textBetween(text, "a", "b", 0, false);
    (void)midText(text, 1, 2);
    EXPECT_EQ(text, "a-b" + ZHONG);
    EXPECT_EQ(sought, "-");
}

}  // namespace
}  // namespace release

// ------------------------------------- findText against a plain reading

namespace release {
namespace {

// findText's rules read literally: step unit by unit, compare byte by byte.
Position plainFindText(std::string_view text, std::string_view needle, Position start, bool ignoreCase) {
    const std::size_t skip = start > 1 ? static_cast<std::size_t>(start) - 1 : 0;
    if (skip >= text.size()) return -1;
    if (needle.empty()) return 1;
    const auto fold = [&](char c) { return ignoreCase && c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    for (std::size_t at = skip; at < text.size(); at += static_cast<unsigned char>(text[at]) >= 0x80 ? 2 : 1) {
        if (text.size() - at < needle.size()) return -1;
        std::size_t k = 0;
        while (k < needle.size() && fold(text[at + k]) == fold(needle[k])) ++k;
        if (k == needle.size()) return static_cast<Position>(at + 1);
    }
    return -1;
}

// Texts from a few bytes that matter (ASCII letters of both cases, lead bytes,
// a lead byte whose trail is 'v'), long enough to cross the word-sized steps.
TEST(FindText, AgreesWithAPlainReadingOnRandomTexts) {
    const char alphabet[] = {'v', 'a', 'r', 'V', 'A', ' ', '"', '\x81', '\xD6', '\xD0', '\xB0'};
    std::uint32_t state = 12345;
    auto next = [&](std::uint32_t bound) {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) % bound;
    };
    auto randomText = [&](std::size_t length) {
        std::string text;
        for (std::size_t i = 0; i < length; ++i) text += alphabet[next(sizeof alphabet)];
        return text;
    };
    for (int round = 0; round < 20000; ++round) {
        const std::string text = randomText(next(64));
        const std::string needle = next(4) == 0 && !text.empty()
                                       ? text.substr(next(static_cast<std::uint32_t>(text.size())), 1 + next(4))
                                       : randomText(next(5));
        const Position start = static_cast<Position>(next(static_cast<std::uint32_t>(text.size()) + 3)) - 1;
        const bool ignoreCase = next(3) == 0;
        ASSERT_EQ(findText(text, needle, start, ignoreCase), plainFindText(text, needle, start, ignoreCase))
            << "text '" << text << "' needle '" << needle << "' start " << start << " ignoreCase " << ignoreCase;
    }
}

}  // namespace
}  // namespace release
