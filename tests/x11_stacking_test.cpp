// The root's stacking order kept from events: whether a window above Form1 overlaps it.
#include "winsys/x11_stacking.h"

#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr std::uint32_t kForm = 1, kOther = 2, kNew = 3, kUnknown = 9;

// An event as the backend passes it on, for a 200x100 window at x, y (of no size when it comes
// back to the root, as that event does not tell it); `arg` is the sibling of a configure, and
// for a circulate whether it goes to the top.
enum class Op {
    Create,
    ReparentBack,
    Destroy,
    Map,
    MapPopup,
    Unmap,
    Configure,
    ConfigurePopup,
    Circulate
};
using enum Op;
struct Event {
    Op op;
    std::uint32_t window;
    int x = 0, y = 0;
    std::uint32_t arg = 0;
};

void Apply(RootStack& stack, const Event& e) {
    const RootStack::Child child = {e.window, false, e.op == ConfigurePopup, e.x, e.y, 200, 100};
    switch (e.op) {
        case Create:
            return stack.Created(child);
        case ReparentBack:
            return stack.Created({e.window, false, false, e.x, e.y, 0, 0});
        case Destroy:
            return stack.Destroyed(e.window);
        case Map:
        case MapPopup:
        case Unmap:
            return stack.Mapped(e.window, e.op != Unmap, e.op == MapPopup);
        case Configure:
        case ConfigurePopup:
            return stack.Configured(child, e.arg);
        case Circulate:
            return stack.Circulated(e.window, e.arg != 0);
    }
}

struct StackCase {
    const char* name;
    std::vector<Event> events;  // after the server listed kOther over Form1, but below it
    bool covered;               // Form1
    bool other_listed;
};

class Stacking : public ::testing::TestWithParam<StackCase> {};

TEST_P(Stacking, Form1IsCoveredOnlyByAMappedWindowAboveThatOverlapsIt) {
    RootStack stack;
    stack.Reset(
        {{kOther, true, false, 150, 150, 200, 100}, {kForm, true, false, 100, 100, 200, 100}});
    for (const Event& e : GetParam().events) {
        Apply(stack, e);
    }
    EXPECT_EQ(stack.Covered(kForm), GetParam().covered);
    EXPECT_EQ(stack.Contains(kOther), GetParam().other_listed);
    EXPECT_FALSE(stack.Contains(kUnknown));
}

const Event kRaised = {Configure, kOther, 150, 150, kForm};

INSTANTIATE_TEST_SUITE_P(
    Events, Stacking,
    ::testing::Values(
        StackCase{"AWindowBelowDoesNotCover", {}, false, true},
        StackCase{"RaisedOverIt", {kRaised}, true, true},
        StackCase{"TouchingItsRightEdge", {{Configure, kOther, 300, 100, kForm}}, false, true},
        StackCase{"OnePixelOverItsCorner", {{Configure, kOther, 299, 199, kForm}}, true, true},
        StackCase{"LoweredAgain", {kRaised, {Configure, kOther, 150, 150, 0}}, false, true},
        StackCase{
            "Form1RaisedAboveIt", {kRaised, {Configure, kForm, 100, 100, kOther}}, false, true},
        StackCase{"AboveAnUnseenSibling", {{Configure, kOther, 150, 150, kUnknown}}, true, true},
        StackCase{"CreatedOverItButNotMapped", {{Create, kNew, 150, 150}}, false, true},
        StackCase{"CreatedOverItAndMapped", {{Create, kNew, 150, 150}, {Map, kNew}}, true, true},
        StackCase{"PopupMappedOverIt", {{Create, kNew, 150, 150}, {MapPopup, kNew}}, false, true},
        StackCase{"PopupRaisedOverIt", {{ConfigurePopup, kOther, 150, 150, kForm}}, false, true},
        StackCase{"UnmappedAgain", {kRaised, {Unmap, kOther}}, false, true},
        StackCase{"Form1ItselfUnmapped", {kRaised, {Unmap, kForm}}, false, true},
        StackCase{"DestroyedOrReparentedAway", {kRaised, {Destroy, kOther}}, false, false},
        StackCase{
            "CreatedTwiceIsListedOnce", {{Create, kOther, 1, 1}, {Destroy, kOther}}, false, false},
        StackCase{"ReparentedBack",
                  {{Destroy, kOther}, {Create, kOther, 150, 150}, {Map, kOther}},
                  true,
                  true},
        StackCase{"ReparentedBackWithItsSizeUntold",
                  {{Destroy, kOther}, {ReparentBack, kOther, 150, 150}, {Map, kOther}},
                  false,
                  true},
        StackCase{"ReparentedBackThenConfigured",
                  {{Destroy, kOther},
                   {ReparentBack, kOther, 150, 150},
                   {Map, kOther},
                   {Configure, kOther, 150, 150, kForm}},
                  true,
                  true},
        StackCase{"CirculatedToTheTop", {{Circulate, kOther, 0, 0, 1}}, true, true},
        StackCase{"CirculatedToTheBottom", {kRaised, {Circulate, kOther}}, false, true},
        StackCase{"UnknownWindows",
                  {{Configure, kUnknown, 150, 150, kForm},
                   {Map, kUnknown},
                   {Circulate, kUnknown, 0, 0, 1},
                   {Destroy, kUnknown}},
                  false,
                  true}),
    [](const auto& row) { return row.param.name; });

}  // namespace
