// The keeping rules on a clock the test sets, over a fake store of titles: the pace of a kept
// title (how soon it may be written again, and when an application that keeps setting its own
// wins), keeping and giving back, the limits, and the end of a window.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "target/keeping.h"

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

// ---- The rules over a store of titles ----------------------------------------------------

using Keeper = TitleKeeper<std::string>;

// Windows whose titles report a change (two notices, as X tells of both properties) or their
// end only while they were last told to, as a backend selects the events it wants.
struct FakeTitles final : TitleStore<std::string> {
    explicit FakeTitles(const int& now_ms)
        : keeper(*this, [&now_ms] { return TitlePace::Clock::time_point{} + 1ms * now_ms; }) {
        NotifyTo(&keeper);
    }

    bool ReadTitle(HWND window, std::string* title) override {
        ++reads;
        *title = Title(window);
        return titles.count(window) != 0;
    }
    bool WriteTitle(HWND window, const std::string& title) override {
        ++writes;
        return refusing.count(window) == 0 && Change(window, title);
    }
    std::size_t TitleBytes(const std::string& title) const override { return title.size(); }
    int NoticesPerWrite() const override { return 2; }
    bool TitleOfText(const char* text, std::string* title) override {
        *title = text;
        return true;
    }
    bool IsOwnWindow(HWND) override { return false; }
    void Listen(HWND window, Listening listening) override { told[window] = listening; }
    void NotifyTo(TitleNotices* to) override { notices_to = to; }

    // A change of the title, by the keeper or by the application.
    bool Change(HWND window, const std::string& title) {
        if (titles.count(window) == 0) {
            return false;
        }
        titles[window] = title;
        notices[window] += told[window].changes ? 2 : 0;
        return true;
    }
    void End(HWND window) {
        titles.erase(window);
        notices.erase(window);
        if (std::exchange(told[window], {}).end) {
            notices_to->OnWindowEnded(window);
        }
    }
    // What a backend does with its events: passes each notice on, then has changes answered.
    void PassOn() {
        for (auto& [window, count] : notices) {
            for (; count > 0; --count) {
                notices_to->OnTitleChanged(window);
            }
        }
        notices_to->AnswerChanges();
    }
    std::string Title(HWND window) const {
        return titles.count(window) != 0 ? titles.at(window) : "(gone)";
    }

    Keeper keeper;
    TitleNotices* notices_to = nullptr;
    std::map<HWND, std::string> titles;  // the windows that exist
    std::map<HWND, int> notices;         // notices not yet passed on
    std::map<HWND, Listening> told;
    std::set<HWND> refusing;  // windows that take no title from this program
    int reads = 0;
    int writes = 0;
};

constexpr HWND kWindow = 0x10;

// What happens at a step, with the step's text; answers what the keeper answers, if asked.
using Act = bool (*)(FakeTitles&, const std::string&);
const Act Write = [](FakeTitles& s, const std::string& t) { return s.keeper.Write(kWindow, t); };
const Act Keep = [](FakeTitles& s, const std::string&) { return s.keeper.KeepTitle(kWindow); };
const Act GiveBack = [](FakeTitles& s, const std::string&) {
    return s.keeper.GiveTitleBack(kWindow);
};
// A plain write the backend makes itself, not through the store.
const Act WriteOwn = [](FakeTitles& s, const std::string& t) {
    return s.keeper.Write(kWindow, t,
                          [&] { return s.refusing.count(kWindow) == 0 && s.Change(kWindow, t); });
};
const Act Refuse = [](FakeTitles& s, const std::string&) {
    return s.refusing.insert(kWindow), true;
};
const Act Accept = [](FakeTitles& s, const std::string&) {
    return s.refusing.erase(kWindow), true;
};
const Act AppSets = [](FakeTitles& s, const std::string& t) { return s.Change(kWindow, t); };
const Act End = [](FakeTitles& s, const std::string&) { return s.End(kWindow), true; };
const Act Open = [](FakeTitles& s, const std::string& t) { return s.titles[kWindow] = t, true; };
const Act Look = [](FakeTitles&, const std::string&) { return true; };

// Whether the window is kept and its changes listened to; kWaits: kept, while an answer waits
// for the pace and changes are not listened to.
enum Kept { kNotKept, kKept, kWaits };

struct Step {
    int at_ms;
    Act act;
    std::string text;    // written, set by the application, or the new window's title
    std::string title;   // the window's title after the step, its notices passed on
    Kept kept;           // and how it is kept then
    bool answer = true;  // what the act answers
};

struct KeepCase {
    const char* name;
    std::vector<Step> steps;
    int reads;  // how often the store read and wrote a title, all told
    int writes;
};

void PrintTo(const KeepCase& row, std::ostream* out) {
    *out << row.name;
}

class Keeping : public ::testing::TestWithParam<KeepCase> {};

TEST_P(Keeping, AWrittenTitleStaysUntilItsEndAndTheFirstComesBack) {
    int now_ms = 0;
    FakeTitles store(now_ms);
    store.titles[kWindow] = "first";
    for (const Step& step : GetParam().steps) {
        now_ms = step.at_ms;
        const bool answer = step.act(store, step.text);
        store.PassOn();
        const std::string at = "at " + std::to_string(step.at_ms) + " ms";
        EXPECT_EQ(answer, step.answer) << at;
        EXPECT_EQ(store.Title(kWindow), step.title) << at;
        EXPECT_EQ(store.keeper.IsTitleKept(kWindow), step.kept != kNotKept) << at;
        EXPECT_EQ(store.keeper.ListeningTo(kWindow).changes, step.kept == kKept) << at;
        // The store was told of every change of what the window is to report.
        EXPECT_EQ(store.told[kWindow], store.keeper.ListeningTo(kWindow)) << at;
    }
    EXPECT_EQ(store.reads, GetParam().reads);
    EXPECT_EQ(store.writes, GetParam().writes);
}

// Written and kept at 0, set by the application at 100 and answered; from 200 on, it sets its
// own 150 ms after each answer, which is answered 250 ms after the one before, until the
// answers have been contested for three seconds.
std::vector<Step> FightFromTheStart() {
    std::vector<Step> steps = {{0, Write, "kept", "kept", kNotKept},
                               {0, Keep, "", "kept", kKept},
                               {100, AppSets, "app", "kept", kKept}};
    for (int answer = 350; answer <= 3350; answer += 250) {
        const bool kept = answer - 350 < 3000;
        steps.push_back({answer - 150, AppSets, "app", "app", kWaits});
        steps.push_back({answer, Look, "", kept ? "kept" : "app", kept ? kKept : kNotKept});
    }
    steps.push_back({3500, AppSets, "later", "later", kNotKept});
    steps.push_back({5000, Look, "", "later", kNotKept});
    return steps;
}

const std::string kLong(kMaxTitleBytes + 1, 'x');
const std::string kLongest(kMaxTitleBytes, 'y');

INSTANTIATE_TEST_SUITE_P(
    Cases, Keeping,
    ::testing::Values(
        // Our own write's notices cost no look at 1000.
        KeepCase{"AKeptTitleIsWrittenAgainWhenTheApplicationSetsAnother",
                 {{0, Write, "kept", "kept", kNotKept},
                  {0, Keep, "", "kept", kKept},
                  {100, AppSets, "app", "kept", kKept},
                  {1000, Look, "", "kept", kKept}},
                 3,
                 2},
        // What the application sets while an answer waits is not even noticed.
        KeepCase{"AnswersComeAtMostFourTimesASecond",
                 {{0, Write, "kept", "kept", kNotKept},
                  {0, Keep, "", "kept", kKept},
                  {100, AppSets, "app", "kept", kKept},
                  {200, AppSets, "app", "app", kWaits},
                  {300, AppSets, "again", "again", kWaits},
                  {349, Look, "", "again", kWaits},
                  {350, Look, "", "kept", kKept},
                  {1000, Look, "", "kept", kKept}},
                 4,
                 3},
        KeepCase{"TheApplicationWinsAfterThreeSecondsOfContestedAnswers", FightFromTheStart(), 16,
                 14},
        // Keeping again at once after an answer answers the next change at once too.
        KeepCase{"APlainWriteEndsKeepingAndKeepingAgainStartsAFreshPace",
                 {{0, Write, "kept", "kept", kNotKept},
                  {0, Keep, "", "kept", kKept},
                  {100, AppSets, "app", "kept", kKept},
                  {150, Write, "again", "again", kNotKept},
                  {150, Keep, "", "again", kKept},
                  {200, AppSets, "app", "again", kKept}},
                 5,
                 4},
        KeepCase{"GiveBackWritesTheFirstTitleAndEndsKeeping",
                 {{0, GiveBack, "", "first", kNotKept, false},
                  {0, Keep, "", "first", kNotKept, false},
                  {0, Write, "one", "one", kNotKept},
                  {100, Write, "two", "two", kNotKept},
                  {200, Keep, "", "two", kKept},
                  {300, GiveBack, "", "first", kNotKept},
                  {400, AppSets, "app", "app", kNotKept},
                  {500, GiveBack, "", "first", kNotKept}},
                 2,
                 4},
        KeepCase{"TheWindowsEndDropsItsRecordAndANewOneWithItsHandleIsLeftAlone",
                 {{0, Write, "kept", "kept", kNotKept},
                  {0, Keep, "", "kept", kKept},
                  {100, End, "", "(gone)", kNotKept},
                  {200, Open, "new", "new", kNotKept},
                  {300, AppSets, "app", "app", kNotKept},
                  {400, GiveBack, "", "app", kNotKept, false},
                  {500, Keep, "", "app", kNotKept, false}},
                 2,
                 1},
        KeepCase{"ATitleTooLongToKeepIsWrittenAndCanStillBeGivenBack",
                 {{0, Write, kLong, kLong, kNotKept},
                  {0, Keep, "", kLong, kNotKept, false},
                  {100, GiveBack, "", "first", kNotKept},
                  {200, Write, kLongest, kLongest, kNotKept},
                  {200, Keep, "", kLongest, kKept}},
                 2,
                 3},
        // The first write records the title even when it does not take; a write that did not
        // take leaves nothing to keep, not even what an earlier one wrote.
        KeepCase{"AWriteThatDidNotTakeIsNotKept",
                 {{0, Refuse, "", "first", kNotKept},
                  {0, Write, "refused", "first", kNotKept, false},
                  {0, Keep, "", "first", kNotKept, false},
                  {100, Accept, "", "first", kNotKept},
                  {100, Write, "took", "took", kNotKept},
                  {200, Refuse, "", "took", kNotKept},
                  {200, WriteOwn, "refused", "took", kNotKept, false},
                  {200, Keep, "", "took", kNotKept, false},
                  {300, GiveBack, "", "took", kNotKept, false},
                  {400, Accept, "", "took", kNotKept},
                  {400, GiveBack, "", "first", kNotKept}},
                 1,
                 4},
        // Only the answers go through the store.
        KeepCase{"AWriteTheBackendMakesItselfIsKeptAlike",
                 {{0, WriteOwn, "own", "own", kNotKept},
                  {0, Keep, "", "own", kKept},
                  {100, AppSets, "app", "own", kKept},
                  {200, WriteOwn, "again", "again", kNotKept},
                  {300, AppSets, "app", "app", kNotKept},
                  {400, GiveBack, "", "first", kNotKept}},
                 3,
                 2},
        KeepCase{"AWriteToAWindowThatHasGoneRecordsNothing",
                 {{0, End, "", "(gone)", kNotKept},
                  {100, Write, "lost", "(gone)", kNotKept, false},
                  {200, Keep, "", "(gone)", kNotKept, false},
                  {300, GiveBack, "", "(gone)", kNotKept, false}},
                 1,
                 1}),
    [](const auto& row) { return row.param.name; });

TEST(KeepingLimits, AtMostThirtyTwoWindowsAreKeptAtOnce) {
    const int now_ms = 0;
    FakeTitles store(now_ms);
    Keeper& keeper = store.keeper;
    for (HWND w = 1; w <= kMaxKeptTitles + 1; ++w) {
        store.titles[w] = "first";
        ASSERT_TRUE(keeper.Write(w, "kept"));
        EXPECT_EQ(keeper.KeepTitle(w), w <= kMaxKeptTitles) << w;
    }
    EXPECT_TRUE(keeper.KeepTitle(1)) << "keeping a kept window again needs no room";
    ASSERT_TRUE(keeper.GiveTitleBack(1));
    EXPECT_TRUE(keeper.KeepTitle(kMaxKeptTitles + 1));
    EXPECT_FALSE(keeper.KeepTitle(1));
}

TEST(KeepingLimits, AtMost256WindowsAreRecordedAndAnEndMakesRoom) {
    const int now_ms = 0;
    FakeTitles store(now_ms);
    Keeper& keeper = store.keeper;
    const HWND past = kMaxTitleRecords + 1;
    for (HWND w = 1; w <= past; ++w) {
        store.titles[w] = "first";
        EXPECT_TRUE(keeper.Write(w, "written")) << "written even when not recorded: " << w;
    }
    EXPECT_FALSE(keeper.GiveTitleBack(past));
    EXPECT_FALSE(keeper.KeepTitle(past));
    EXPECT_EQ(store.Title(past), "written");
    ASSERT_TRUE(keeper.GiveTitleBack(past - 1));
    EXPECT_EQ(store.Title(past - 1), "first");

    store.End(1);
    store.titles[past + 1] = "new";
    ASSERT_TRUE(keeper.Write(past + 1, "again"));
    EXPECT_TRUE(keeper.GiveTitleBack(past + 1));
    EXPECT_EQ(store.Title(past + 1), "new");
}

}  // namespace
