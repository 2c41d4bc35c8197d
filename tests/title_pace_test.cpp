// The pace of a kept title on a clock the test sets: how soon it may be written again, and
// when an application that keeps setting its own wins.
#include <gtest/gtest.h>

#include <vector>

#include "winsys/x11_title_pace.h"

namespace {

using namespace std::chrono_literals;

struct Write {
    int at_ms;
    bool contested;
    bool kept;  // what Wrote answers
};

struct PaceCase {
    const char* name;
    std::vector<Write> writes;
};

void PrintTo(const PaceCase& row, std::ostream* out) {
    *out << row.name;
}

class Pace : public ::testing::TestWithParam<PaceCase> {};

TEST_P(Pace, WritesAtMostFourTimesASecondAndGivesUpAfterThreeSecondsOfFighting) {
    const TitlePace::Clock::time_point zero{};
    TitlePace pace;
    EXPECT_TRUE(pace.MayWrite(zero));
    for (const Write& w : GetParam().writes) {
        const auto now = zero + std::chrono::milliseconds(w.at_ms);
        EXPECT_EQ(pace.Wrote(now, w.contested), w.kept) << "at " << w.at_ms;
        EXPECT_FALSE(pace.MayWrite(now + 249ms));
        EXPECT_TRUE(pace.MayWrite(now + 250ms));
    }
}

std::vector<Write> Fight(int from_ms, int to_ms) {
    std::vector<Write> writes;
    for (int t = from_ms; t <= to_ms; t += 250) {
        writes.push_back({t, true, t - from_ms < 3000});
    }
    return writes;
}

std::vector<Write> Join(std::vector<Write> a, const std::vector<Write>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Pace,
    ::testing::Values(
        PaceCase{"AnsweredChangesNeverEnd",
                 {{0, false, true}, {300, false, true}, {600, false, true}, {5000, false, true}}},
        PaceCase{"ThreeSecondsOfContestedWritesEnd", Fight(0, 3250)},
        // A change that could be answered at once breaks the fight: it starts again.
        PaceCase{"AnAnsweredChangeStartsTheCountAgain",
                 Join(Join(Fight(0, 2750), {{3000, false, true}}), Fight(3250, 6500))}),
    [](const auto& row) { return row.param.name; });

}  // namespace
