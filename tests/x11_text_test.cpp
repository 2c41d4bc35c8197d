#include "winsys/x11_text.h"

#include <string>

#include <gtest/gtest.h>

namespace {

using namespace std::string_literals;
using x11_text::CompoundTextToUtf8;
using x11_text::Utf8ToCompoundText;
using x11_text::ValidUtf8;

const std::string kBad = "\xEF\xBF\xBD";  // U+FFFD

template <typename Row>
std::string RowName(const ::testing::TestParamInfo<Row>& info) {
    return info.param.name;
}

// --- UTF-8 validation ---------------------------------------------------------------------

struct Utf8Row {
    const char* name;
    std::string in;
    bool more_follows;
    std::string out;
};

class ValidUtf8Test : public ::testing::TestWithParam<Utf8Row> {};

TEST_P(ValidUtf8Test, ReplacesEachIllFormedSequence) {
    EXPECT_EQ(ValidUtf8(GetParam().in, GetParam().more_follows), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ValidUtf8Test,
    ::testing::Values(Utf8Row{"AsciiAndJapaneseAndEmojiPass", "a\xE6\x97\xA5\xF0\x9F\x98\x80",
                              false, "a\xE6\x97\xA5\xF0\x9F\x98\x80"},
                      Utf8Row{"LoneContinuationByte",
                              "a\x80"
                              "b",
                              false, "a" + kBad + "b"},
                      Utf8Row{"OverlongSlash", "\xC0\xAF", false, kBad + kBad},
                      Utf8Row{"Surrogate", "\xED\xA0\x80", false, kBad + kBad + kBad},
                      Utf8Row{"BeyondU10FFFF", "\xF4\x90\x80\x80", false,
                              kBad + kBad + kBad + kBad},
                      Utf8Row{"InvalidLeadByte", "\xF5", false, kBad},
                      Utf8Row{"CutOffInTheMiddleIsOneCharacter",
                              "\xE6\x97"
                              "a",
                              false, kBad + "a"},
                      Utf8Row{"CutOffAtTheEnd", "a\xE6\x97", false, "a" + kBad},
                      Utf8Row{"CutOffAtTheEndOfAStartIsDropped", "a\xF0\x9F\x98", true, "a"},
                      Utf8Row{"BadByteAtTheEndOfAStartIsKept", "a\xFF", true, "a" + kBad}),
    RowName<Utf8Row>);

struct PrefixRow {
    const char* name;
    std::string text;
    std::size_t max;
    std::size_t length;
};

class Utf8PrefixTest : public ::testing::TestWithParam<PrefixRow> {};

TEST_P(Utf8PrefixTest, CutsAtACharacterBoundary) {
    EXPECT_EQ(x11_text::Utf8PrefixLength(GetParam().text, GetParam().max), GetParam().length);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Utf8PrefixTest,
    ::testing::Values(PrefixRow{"ShorterThanMax", "abc", 99, 3},
                      PrefixRow{"ExactlyMax", "ab\xE6\x97\xA5", 5, 5},
                      PrefixRow{"InsideAThreeByteCharacter", "ab\xE6\x97\xA5", 4, 2},
                      PrefixRow{"AfterTheFirstByteOfAFourByteOne", "a\xF0\x9F\x98\x80", 2, 1},
                      PrefixRow{"InsideAFourByteCharacter", "a\xF0\x9F\x98\x80", 4, 1},
                      PrefixRow{"MaxZero", "abc", 0, 0}),
    RowName<PrefixRow>);

TEST(Latin1, ConvertsBothWaysAndRefusesWhatItCannotHold) {
    EXPECT_EQ(x11_text::Latin1ToUtf8("caf\xE9 \xFF"), "caf\xC3\xA9 \xC3\xBF");
    EXPECT_EQ(x11_text::Utf8ToLatin1("caf\xC3\xA9 \xC3\xBF"), "caf\xE9 \xFF");
    EXPECT_EQ(x11_text::Utf8ToLatin1("\xE6\x97\xA5"), std::nullopt);
    EXPECT_EQ(x11_text::Utf8ToLatin1("\xE2\x82\xAC"), std::nullopt);  // the euro sign
}

// --- COMPOUND_TEXT ------------------------------------------------------------------------

struct CtextRow {
    const char* name;
    std::string ctext;
    bool more_follows;
    std::string utf8;
};

class CompoundTextDecodeTest : public ::testing::TestWithParam<CtextRow> {};

TEST_P(CompoundTextDecodeTest, GivesUtf8) {
    EXPECT_EQ(CompoundTextToUtf8(GetParam().ctext, GetParam().more_follows), GetParam().utf8);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CompoundTextDecodeTest,
    ::testing::Values(
        CtextRow{"Latin1IsTheStartingRightHalf", "caf\xE9", false, "caf\xC3\xA9"},
        CtextRow{"Jis0208InTheRightHalf", "\x1B$)B\xC6\xFC\xCB\xDC", false,
                 "\xE6\x97\xA5\xE6\x9C\xAC"},
        CtextRow{"Jis0208InTheLeftHalf", "\x1B$(BF|K\\\x1B(B!", false, "\xE6\x97\xA5\xE6\x9C\xAC!"},
        CtextRow{"HalfWidthKatakana", "\x1B)I\xB1", false, "\xEF\xBD\xB1"},
        CtextRow{"JisRomanYen", "\x1B(J\\", false, "\xC2\xA5"},
        CtextRow{"Cyrillic", "\x1B-L\xB4", false, "\xD0\x94"},
        CtextRow{"Gb2312", "\x1B$)A\xD6\xD0", false, "\xE4\xB8\xAD"},
        CtextRow{"Ksc5601", "\x1B$)C\xC7\xD1", false, "\xED\x95\x9C"},
        CtextRow{"Utf8Segment", "a\x1B%G\xF0\x9F\x98\x80\x1B%@\xE9", false,
                 "a\xF0\x9F\x98\x80\xC3\xA9"},
        CtextRow{"ExtendedSegment", "\x1B%/1\x80\x8Ciso8859-15\x02\xA4", false, "\xE2\x82\xAC"},
        CtextRow{"UnknownExtendedSegment", "\x1B%/1\x80\x85xyz\x02\xA4!", false, kBad + "!"},
        CtextRow{"DirectionMarksAreIgnored",
                 "\x9B"
                 "1]ab\x9B]",
                 false, "ab"},
        CtextRow{"ControlsOtherThanTabAndNewlineAreDropped",
                 "a\x01\x85"
                 "b\tc\n",
                 false, "ab\tc\n"},
        // Found by the fuzzer: segments in other codings carried controls through.
        CtextRow{"ControlsInAUtf8SegmentAreDropped",
                 "a\x1B%G\0\x01\xC2\x85\x7F"
                 "b\x1B%@c"s,
                 false, "abc"},
        CtextRow{"ControlsInAnExtendedSegmentAreDropped",
                 "\x1B%/1\x80\x8Fiso8859-15\x02"
                 "a\x01\x80"
                 "b",
                 false, "ab"},
        CtextRow{"UnknownSetGivesReplacements", "\x1B$)Z\xA1\xA1\xA1\xA1", false, kBad + kBad},
        CtextRow{"UnassignedJisCode", "\x1B$)B\xA9\xA1", false, kBad},
        CtextRow{"ByteOutsideA94Set", "\x1B$)B\xFF\xC6\xFC", false, kBad + "\xE6\x97\xA5"},
        CtextRow{"CutOffCharacter", "\x1B$)B\xC6\xFC\xCB", false, "\xE6\x97\xA5" + kBad},
        CtextRow{"CutOffCharacterOfAStart", "\x1B$)B\xC6\xFC\xCB", true, "\xE6\x97\xA5"},
        CtextRow{"CutOffEscapeOfAStart", "a\x1B$)", true, "a"},
        CtextRow{"StrayEscapeIsDropped",
                 "a\x1B\x01"
                 "b",
                 false, "ab"}),
    RowName<CtextRow>);

struct RoundTripRow {
    const char* name;
    std::string utf8;
    std::string ctext;  // empty: only the round trip is checked
};

class CompoundTextEncodeTest : public ::testing::TestWithParam<RoundTripRow> {};

TEST_P(CompoundTextEncodeTest, DecodesBackToTheText) {
    const std::string ctext = Utf8ToCompoundText(GetParam().utf8);
    if (!GetParam().ctext.empty()) {
        EXPECT_EQ(ctext, GetParam().ctext);
    }
    EXPECT_EQ(CompoundTextToUtf8(ctext), GetParam().utf8);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CompoundTextEncodeTest,
    ::testing::Values(
        RoundTripRow{"JapaneseInJis0208", "\xE6\x97\xA5\xE6\x9C\xAC", "\x1B$)B\xC6\xFC\xCB\xDC"},
        RoundTripRow{"Latin1NeedsNoDesignationAtFirst", "\xC3\xA9\xE6\x97\xA5",
                     "\xE9\x1B$)B\xC6\xFC"},
        RoundTripRow{"Latin1IsDesignatedAgainAfterJis", "\xE6\x97\xA5\xC3\xA9",
                     "\x1B$)B\xC6\xFC\x1B-A\xE9"},
        RoundTripRow{"HalfWidthKatakana", "\xEF\xBD\xB1\xEF\xBD\xB2", "\x1B)I\xB1\xB2"},
        RoundTripRow{"EmojiInAUtf8Segment", "a\xF0\x9F\x98\x80\xF0\x9F\x98\x81",
                     "a\x1B%G\xF0\x9F\x98\x80\xF0\x9F\x98\x81\x1B%@"},
        RoundTripRow{"EuroSignInUtf8RatherThanKsc5601", "Rechnung 12 \xE2\x82\xAC",
                     "Rechnung 12 \x1B%G\xE2\x82\xAC\x1B%@"},
        RoundTripRow{"FullwidthTildeInGb2312RatherThanJisX0212", "\xEF\xBD\x9E", "\x1B$)A\xA1\xAB"},
        RoundTripRow{"MixedScripts",
                     "Caf\xC3\xA9 \xE3\x82\xBF\xE3\x82\xA4\xE3\x83\x88\xE3\x83\xAB \xD0\x9F"
                     "\xD1\x80\xD0\xB8 \xCE\xB1\xCE\xAC \xE4\xB8\xAD \xED\x95\x9C "
                     "\xE2\x82\xAC \xF0\x9F\x98\x80 \t\n",
                     ""}),
    RowName<RoundTripRow>);

TEST(CompoundTextEncode, DropsControlsItCannotCarry) {
    EXPECT_EQ(Utf8ToCompoundText("a\x1B"
                                 "b\x7F"
                                 "c\xC2\x85"),
              "abc");
}

}  // namespace
