// The reports of the KWin script, as recorded from KWin 5.27, parsed and applied in order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "winsys/gnome_reader.h"
#include "winsys/kwin_reader.h"

namespace {

// A report KWin 5.27 sent with the pointer over a native window.
constexpr const char* kOverNative =
    R"({"pointer":[639,511],"windows":[{"id":"{8940f890-2dfc-4e24-9e5e-9fe8973313f7}",)"
    R"("caption":"Wayland Terminal","frame":[269,298,742,427],"xid":0}],)"
    R"("under":"{8940f890-2dfc-4e24-9e5e-9fe8973313f7}"})";

std::string Repeated(const std::string& text, int times) {
    std::string all;
    for (int i = 0; i < times; ++i) {
        all += text;
    }
    return all;
}
const std::string kCutCaption = Repeated("é", 2048);  // 4096 bytes

struct Step {
    std::string json;
    bool parses;
};

struct Case {
    const char* name;
    std::vector<Step> steps;
    // What the state then says.
    bool has_pointer;
    POINT pointer;
    const char* under_id;  // nullptr: no window under the pointer
    const char* caption;
    RECT frame;
    unsigned long xid;
};

class KWinReportTest : public testing::TestWithParam<Case> {};

TEST_P(KWinReportTest, AppliesInOrder) {
    const Case& c = GetParam();
    CompositorState state;
    for (const Step& step : c.steps) {
        const std::optional<CompositorReport> report = ParseCompositorReport(step.json);
        ASSERT_EQ(report.has_value(), step.parses) << step.json;
        if (report) {
            state.Apply(*report);
        }
    }
    EXPECT_EQ(state.has_pointer(), c.has_pointer);
    if (c.has_pointer) {
        EXPECT_EQ(state.pointer().x, c.pointer.x);
        EXPECT_EQ(state.pointer().y, c.pointer.y);
    }
    const CompositorWindow* under = state.under();
    if (c.under_id == nullptr) {
        EXPECT_EQ(under, nullptr);
        return;
    }
    ASSERT_NE(under, nullptr);
    EXPECT_EQ(under->id, c.under_id);
    EXPECT_EQ(under->caption, c.caption);
    EXPECT_EQ(under->frame.left, c.frame.left);
    EXPECT_EQ(under->frame.top, c.frame.top);
    EXPECT_EQ(under->frame.right, c.frame.right);
    EXPECT_EQ(under->frame.bottom, c.frame.bottom);
    EXPECT_EQ(under->xid, c.xid);
    EXPECT_TRUE(state.IsWindow(c.under_id));
}

const char* const kNativeId = "{8940f890-2dfc-4e24-9e5e-9fe8973313f7}";

INSTANTIATE_TEST_SUITE_P(
    Reports, KWinReportTest,
    testing::Values(
        Case{"NativeWindow",
             {{kOverNative, true}},
             true,
             {639, 511},
             kNativeId,
             "Wayland Terminal",
             {269, 298, 1011, 725},
             0},
        Case{"X11WindowWithUtf8Caption",
             {{R"({"pointer":[100,100],"under":"{a}","windows":[{"id":"{a}",)"
               R"("caption":"日本語 — ✓","frame":[50,50,300,300],"xid":4194305}]})",
               true}},
             true,
             {100, 100},
             "{a}",
             "日本語 — ✓",
             {50, 50, 350, 350},
             4194305},
        Case{"PointerMovesOffEveryWindow",
             {{kOverNative, true}, {R"({"pointer":[5,5],"under":""})", true}},
             true,
             {5, 5},
             nullptr,
             nullptr,
             {},
             0},
        Case{"CaptionChangeAwayFromThePointerKeepsTheWindowUnder",
             {{kOverNative, true},
              {R"({"windows":[{"id":"{8940f890-2dfc-4e24-9e5e-9fe8973313f7}",)"
               R"("caption":"new","frame":[0,0,10,10],"xid":0}]})",
               true}},
             true,
             {639, 511},
             kNativeId,
             "new",
             {0, 0, 10, 10},
             0},
        Case{"RemovedWindowIsNoLongerUnder",
             {{kOverNative, true},
              {R"({"removed":["{8940f890-2dfc-4e24-9e5e-9fe8973313f7}"]})", true}},
             true,
             {639, 511},
             nullptr,
             nullptr,
             {},
             0},
        Case{"BrokenReportsChangeNothing",
             {{kOverNative, true},
              {"not json", false},
              {"[1,2]", false},
              {R"({"pointer":[1]})", false},
              {R"({"pointer":[1.5,2]})", false},
              {R"({"under":7})", false},
              {R"({"windows":[{"id":"{x}","caption":"c","frame":[0,0,1],"xid":0}]})", false},
              {R"({"windows":[{"id":"{x}","caption":3,"frame":[0,0,1,1],"xid":0}]})", false},
              {R"({"windows":[{"id":"{x}","caption":"c","frame":[0,0,1,1],"xid":-1}]})", false},
              {R"({"removed":"{8940f890-2dfc-4e24-9e5e-9fe8973313f7}"})", false}},
             true,
             {639, 511},
             kNativeId,
             "Wayland Terminal",
             {269, 298, 1011, 725},
             0},
        // KWin 6 gives no X id, but the process; a caption past 4 KiB is cut at a character.
        Case{"LongCaptionIsCutAtACharacterBoundary",
             {{R"({"pointer":[1,1],"under":"{l}","screen":[1280,1024],"windows":[{"id":"{l}",)"
               R"("caption":")" +
                   Repeated("é", 3000) + R"(","frame":[0,0,10,10],"xid":0,"pid":4242}]})",
               true}},
             true,
             {1, 1},
             "{l}",
             kCutCaption.c_str(),
             {0, 0, 10, 10},
             0},
        Case{"NothingYet", {{"{}", true}}, false, {}, nullptr, nullptr, {}, 0}),
    [](const testing::TestParamInfo<Case>& row) { return std::string(row.param.name); });

// A window's process and the desktop's size come through; past 256 windows the oldest that is
// not under the pointer goes.
TEST(CompositorState, KeepsAtMostItsWindowsAndTheOneUnderThePointer) {
    CompositorState state;
    const auto window = [](int i) {
        return R"({"id":"{w)" + std::to_string(i) +
               R"(}","caption":"c","frame":[0,0,1,1],"pid":7})";
    };
    std::optional<CompositorReport> first = ParseCompositorReport(
        R"({"pointer":[0,0],"under":"{w0}","screen":[1280,1024],"windows":[)" + window(0) + "]}");
    ASSERT_TRUE(first.has_value());
    state.Apply(*first);
    for (int i = 1; i <= 300; ++i) {
        std::optional<CompositorReport> r =
            ParseCompositorReport(R"({"windows":[)" + window(i) + "]}");
        ASSERT_TRUE(r.has_value());
        state.Apply(*r);
    }
    EXPECT_EQ(state.window_count(), CompositorState::kMaxWindows);
    ASSERT_NE(state.under(), nullptr);
    EXPECT_EQ(state.under()->pid, 7);
    EXPECT_FALSE(state.IsWindow("{w1}"));
    EXPECT_TRUE(state.IsWindow("{w300}"));
    ASSERT_TRUE(state.screen().has_value());
    EXPECT_EQ(state.screen()->x, 1280);
    // Too long to be read at all.
    EXPECT_FALSE(
        ParseCompositorReport(R"({"under":")" + std::string(kMaxReportBytes, 'x') + R"("})"));
}

// What velmo says of its GNOME Shell extension, from what the shell tells of it.
TEST(GnomeReader, TellsWhatKeepsTheExtensionFromReading) {
    const auto state = [](double s, const char* error = "") {
        return QVariantMap{{QStringLiteral("state"), s}, {QStringLiteral("error"), error}};
    };
    const struct {
        const char* name;
        QVariantMap info;
        bool installed;
        const char* said;  // a part of what is said; "" where nothing is
    } rows[] = {
        {"not installed", {}, false, "is not installed; install velmo's package"},
        {"installed while the shell ran", {}, true, "until you log out and log in again"},
        {"never enabled", state(6), true,
         "is not enabled; enable it with: gnome-extensions "
         "enable velmo@vellomar.invalid"},
        {"disabled", state(2), true, "gnome-extensions enable velmo@vellomar.invalid"},
        {"failed", state(3, "TypeError: x is null"), true,
         "does not answer (TypeError: x is null)"},
        {"out of date", state(4), true, "is not made for this GNOME Shell"},
        {"enabled", state(1), true, ""},
        {"being enabled", state(8), true, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string said =
            GnomeReader::NoticeFor(GnomeReader::Uuid(48), row.info, row.installed);
        EXPECT_EQ(said.empty(), row.said[0] == '\0') << said;
        EXPECT_NE(said.find(row.said), std::string::npos) << said;
    }
    // 43 and 44 load the other form of the extension; a version not told takes the newer.
    for (const auto& [major, uuid] : {std::pair{43, "velmo43@vellomar.invalid"},
                                      {44, "velmo43@vellomar.invalid"},
                                      {45, "velmo@vellomar.invalid"},
                                      {48, "velmo@vellomar.invalid"},
                                      {0, "velmo@vellomar.invalid"}}) {
        EXPECT_EQ(GnomeReader::Uuid(major).toStdString(), uuid) << major;
    }
}

}  // namespace
