// The X11 backend against a real server and window manager: Xvfb and openbox, with foreign
// windows made through the test's own connection and the pointer moved through XTest.

// GoogleTest comes before Xlib, whose macros (None, Bool) clash with its names.
#include <gtest/gtest.h>

#include "mainwindow/form_load.h"
#include "target/target.h"
#include "tests/support/plain_form.h"
#include "tests/support/x_session.h"
#include "winsys/x11_connection.h"
#include "winsys/x11_window_system.h"

#include <X11/Xatom.h>
#include <X11/Xlib-xcb.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <clocale>
#include <cstring>
#include <functional>
#include <vector>

// Where GoogleTest finds them for the boundary's RECT, which lives in the global namespace.
bool operator==(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
std::ostream& operator<<(std::ostream& os, const RECT& r) {
    return os << "{" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << "}";
}

namespace {

using namespace std::chrono_literals;

XSession* session = nullptr;
// No X error of the backend's connection may reach a handler; the test's own connection
// touches vanished windows on purpose.
Display* backend_display = nullptr;
int escaped_errors = 0;

int RecordError(Display* display, XErrorEvent*) {
    escaped_errors += display == backend_display ? 1 : 0;
    return 0;
}

class X11Environment : public ::testing::Environment {
  public:
    void SetUp() override {
        // Xlib's own COMPOUND_TEXT conversions, which check ours, need a UTF-8 locale.
        std::setlocale(LC_CTYPE, "C.UTF-8");
        std::string error;
        session = XSession::Start({}, &error).release();
        ASSERT_NE(session, nullptr) << error;
        XSetErrorHandler(&RecordError);
    }
    void TearDown() override { delete session; }
};
const auto* const environment = ::testing::AddGlobalTestEnvironment(new X11Environment);

const std::string kJapanese = "日本語のタイトル";

std::string Repeat(const std::string& s, std::size_t n) {
    std::string out;
    out.reserve(s.size() * n);
    for (std::size_t i = 0; i < n; ++i) {
        out += s;
    }
    return out;
}

POINT Centre(const RECT& r) {
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

class X11Test : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(session, nullptr);
        d = session->display();
        std::string error;
        ws = X11WindowSystem::Open(session->display_name().c_str(), &error);
        ASSERT_NE(ws, nullptr) << error;
        backend_display = ws->display();
        escaped_errors = 0;
    }

    void TearDown() override {
        // Every error trap of the backend put back the handler that was there before it.
        EXPECT_EQ(XSetErrorHandler(&RecordError), &RecordError);
        EXPECT_EQ(escaped_errors, 0);
        for (auto w = windows.rbegin(); w != windows.rend(); ++w) {
            XDestroyWindow(d, *w);
        }
        XSync(d, False);
        // The next test starts on a bare screen, once openbox has taken the frames away.
        WaitUntil([&] { return BareScreen(); }, 3s);
        ws.reset();
    }

    // Once openbox has taken away the frames of the test's windows.
    bool BareScreen() {
        XWindowAttributes a{};
        return std::none_of(frames.begin(), frames.end(),
                            [&](Window f) { return XGetWindowAttributes(d, f, &a) != 0; });
    }

    Window Client(int x, int y, int width, int height, const std::string& title) {
        windows.push_back(session->CreateClient(x, y, width, height, title));
        frames.push_back(FrameWindow(windows.back()));
        return windows.back();
    }

    Window Plain(Window parent, int x, int y, int width, int height, bool map, bool popup = false,
                 int border = 0) {
        XSetWindowAttributes a{};
        a.override_redirect = popup;
        const Window w =
            XCreateWindow(d, parent, x, y, static_cast<unsigned>(width),
                          static_cast<unsigned>(height), static_cast<unsigned>(border),
                          CopyFromParent, InputOutput, CopyFromParent, CWOverrideRedirect, &a);
        if (map) {
            XMapWindow(d, w);
        }
        XSync(d, False);
        if (parent == session->root()) {
            windows.push_back(w);
        }
        return w;
    }

    Atom A(const char* name) { return XInternAtom(d, name, False); }

    // A window made a client, as a window manager marks the windows it manages.
    Window WithState(Window w) {
        SetProperty(w, "WM_STATE", "WM_STATE", std::string("\1\0\0\0\0\0\0\0", 8));
        return w;
    }

    void SetProperty(Window w, const char* name, const char* type, const std::string& bytes) {
        WriteProperty(d, w, name, type, 8, bytes);
        XSync(d, False);
    }

    // A window's rectangle, border included, in root coordinates, as the test's connection sees it.
    RECT RootRect(Window w) {
        Window root = 0, child = 0;
        int x = 0, y = 0, rx = 0, ry = 0;
        unsigned width = 0, height = 0, border = 0, depth = 0;
        XGetGeometry(d, w, &root, &x, &y, &width, &height, &border, &depth);
        XTranslateCoordinates(d, w, root, 0, 0, &rx, &ry, &child);
        const int b = static_cast<int>(border);
        return {rx - b, ry - b, rx + static_cast<int>(width) + b,
                ry + static_cast<int>(height) + b};
    }

    Window FrameWindow(Window client) { return ::FrameWindow(d, client); }
    RECT Frame(Window client) { return RootRect(FrameWindow(client)); }
    bool IsAbove(Window w) { return ::IsAbove(d, w); }
    Window ActiveWindow() { return ::ActiveWindow(d); }

    // What another client reads from a text property through Xlib's own conversions.
    std::string XlibDecoded(Window w, Atom property) {
        XTextProperty p{};
        char** list = nullptr;
        int count = 0;
        std::string text = "(none)";
        if (XGetTextProperty(d, w, &p, property) &&
            Xutf8TextPropertyToTextList(d, &p, &list, &count) == Success && count <= 1) {
            text = count == 1 ? list[0] : "";
        }
        if (list != nullptr) {
            XFreeStringList(list);
        }
        XFree(p.value);
        return text;
    }
    std::string XlibCompoundText(const std::string& text) {
        char* list[] = {const_cast<char*>(text.c_str())};
        XTextProperty p{};
        EXPECT_EQ(Xutf8TextListToTextProperty(d, list, 1, XCompoundTextStyle, &p), Success);
        std::string bytes(reinterpret_cast<char*>(p.value), p.nitems);
        XFree(p.value);
        return bytes;
    }

    std::string Text(HWND w, int capacity = kTitleBufferSize) {
        std::vector<char> buffer(static_cast<std::size_t>(capacity) + 1, 'Z');
        buffer.back() = '\0';  // so that a missing terminating zero shows as Zs
        const int n = ws->GetWindowTextA(w, buffer.data(), capacity);
        EXPECT_EQ(n, static_cast<int>(std::strlen(buffer.data())));
        return buffer.data();
    }

    Display* d = nullptr;
    std::unique_ptr<X11WindowSystem> ws;
    std::vector<Window> windows;  // top-level windows the test made, destroyed at its end
    std::vector<Window> frames;   // openbox's frames of them
};

using Form = PlainForm;

struct OwnText {
    std::string text;
    int repaints = 0;
    std::size_t asked = 0;  // the most bytes a read has asked for
    OwnWindow Window() {
        return {[this](std::size_t max) {
                    asked = std::max(asked, max);
                    return text;
                },
                [this](const std::string& t) { text = t; }, [this] { ++repaints; }};
    }
};

// --- The window at a point -----------------------------------------------------------------

TEST_F(X11Test, WindowAtAPointIsTheClientTheOwnWindowThePopupOrNone) {
    const Window app = Client(100, 100, 300, 200, "Foreign A");
    const Window child = Plain(app, 20, 20, 60, 40, true);
    const Window popup = Plain(session->root(), 500, 100, 120, 80, true, true);
    Plain(session->root(), 500, 300, 100, 100, false);  // never mapped
    // Mutter's: unmanaged, over the whole screen, beneath every other window.
    const Window guard =
        Plain(session->root(), 0, 0, DisplayWidth(d, 0), DisplayHeight(d, 0), true, true);
    XStoreName(d, guard, "mutter guard window");
    XLowerWindow(d, guard);
    const Window under = Client(700, 100, 400, 300, "Foreign B");
    const Window form = Client(760, 160, 240, 160, "Form1");
    const Window text1 = Plain(form, 10, 10, 150, 24, true);
    const Window button = Plain(form, 10, 50, 80, 24, true);
    const Window hidden = Plain(form, 10, 90, 80, 24, false);
    OwnText own[4] = {{"Form1 caption"}, {"Text1 text"}, {"button caption"}, {"hidden"}};
    const Window owned[4] = {form, text1, button, hidden};
    for (int i = 0; i < 4; ++i) {
        ws->DeclareOwnWindow(owned[i], own[i].Window());
    }
    const RECT a = RootRect(app), fa = Frame(app), f = RootRect(form), ff = Frame(form);
    const RECT h = RootRect(hidden);
    const struct {
        const char* name;
        POINT point;
        Window expected;
    } rows[] = {
        {"contents", Centre(a), app},
        {"title bar", {Centre(a).x, (fa.top + a.top) / 2}, app},
        {"left border", {fa.left, Centre(a).y}, app},
        {"bottom edge", {Centre(a).x, fa.bottom - 1}, app},
        {"child window", Centre(RootRect(child)), app},
        {"popup", Centre(RootRect(popup)), popup},
        {"unmapped window", {550, 350}, 0},
        {"root", {50, 900}, 0},
        {"left of the screen", {-10, 10}, 0},
        {"right of the screen", {5000, 10}, 0},
        {"own Text1 over a foreign window", Centre(RootRect(text1)), text1},
        {"own button", Centre(RootRect(button)), button},
        {"own Form1 between its controls", {f.left + 200, f.top + 140}, form},
        {"own unmapped child", Centre(h), form},
        {"own title bar", {Centre(f).x, (ff.top + f.top) / 2}, form},
        {"foreign window beside our own", {720, 120}, under},
    };
    // The pointer rests on the popup, and GetCursorPos has just seen it there.
    session->MovePointer(Centre(RootRect(popup)).x, Centre(RootRect(popup)).y);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        POINT pointer{};
        ws->GetCursorPos(&pointer);
        EXPECT_EQ(ws->WindowFromPoint(row.point.x, row.point.y), row.expected);
    }
    session->MovePointer(50, 900);  // over the guard window alone
    POINT pointer{};
    ws->GetCursorPos(&pointer);
    EXPECT_EQ(ws->WindowFromPoint(pointer.x, pointer.y), 0u);

    // The client found in a frame is remembered, and looked for again once it has gone.
    const Window frame = Plain(session->root(), 500, 500, 200, 150, true, true);
    const Window first = WithState(Plain(frame, 0, 20, 200, 130, true));
    EXPECT_EQ(ws->WindowFromPoint(600, 510), first);  // on the frame's "title bar"
    XDestroyWindow(d, first);
    const Window second = WithState(Plain(frame, 0, 20, 200, 130, true));
    EXPECT_EQ(ws->WindowFromPoint(600, 510), second);
    XDeleteProperty(d, second, A("WM_STATE"));
    const Window third = WithState(Plain(frame, 0, 20, 100, 130, true));
    EXPECT_EQ(ws->WindowFromPoint(600, 510), third);

    // A tick follows the real pointer, within the round trips it may take.
    const struct {
        const char* name;
        POINT point;
        Window target;
        std::string label;
    } ticks[] = {{"contents", Centre(a), app, "Foreign A"},
                 {"title bar", {Centre(a).x, (fa.top + a.top) / 2}, app, "Foreign A"},
                 {"own Text1", Centre(RootRect(text1)), text1, "Text1 text"},
                 {"root", {50, 900}, 0, "Text1 text"}};
    Form form_texts;
    for (const auto& tick : ticks) {
        SCOPED_TRACE(tick.name);
        session->MovePointer(tick.point.x, tick.point.y);
        HWND target = 12345;
        const unsigned long before = ws->RoundTrips();
        Timer1_Timer(*ws, target, form_texts);
        EXPECT_LE(ws->RoundTrips() - before, 4u);
        EXPECT_EQ(target, tick.target);
        EXPECT_EQ(form_texts.label2, tick.label);
    }
}

// --- Answers kept fresh by events ----------------------------------------------------------

TEST_F(X11Test, ChangeUnderTheRestingPointerShowsAtTheVeryNextTick) {
    struct Shown {
        Window target;
        std::string label;
    };
    // Each case in a place of its own: a frame made by the test (an unmanaged window with a
    // client inside, as a window manager's), or a window that openbox frames.
    int place = 0;
    POINT at{};
    auto framed = [&](const std::string& title) {
        const int x = 40 + place % 4 * 310, y = 60 + place / 4 * 480;
        at = {x + 100, y + 80};
        const Window frame = Plain(session->root(), x, y, 260, 200, true, true);
        SetProperty(frame, "_NET_WM_NAME", "UTF8_STRING", "frame");
        const Window client = WithState(Plain(frame, 0, 20, 260, 180, true));
        SetProperty(client, "_NET_WM_NAME", "UTF8_STRING", title);
        return std::pair{frame, client};
    };
    auto managed = [&](const std::string& title) {
        const int x = 40 + place % 4 * 310, y = 60 + place / 4 * 480;
        at = {x + 100, y + 80};
        return Client(x, y, 260, 200, title);
    };
    Form form;
    HWND target = 0;
    // The first tick looks at the window and watches it; the next costs the pointer query alone.
    auto rest = [&](POINT p) {
        session->MovePointer(p.x, p.y);
        Timer1_Timer(*ws, target, form);
        const unsigned long before = ws->RoundTrips();
        Timer1_Timer(*ws, target, form);
        EXPECT_EQ(ws->RoundTrips() - before, 1u);
    };
    const struct {
        const char* name;
        std::function<Shown()> change;  // sets the scene, rests the pointer there, then changes
    } rows[] = {
        {"title set through _NET_WM_NAME",
         [&] {
             const Window app = managed("before");
             rest(at);
             SetProperty(app, "_NET_WM_NAME", "UTF8_STRING", "after");
             return Shown{app, "after"};
         }},
        {"title set through WM_NAME alone",
         [&] {
             const Window app = managed("before");
             XDeleteProperty(d, app, A("_NET_WM_NAME"));
             rest(at);
             SetProperty(app, "WM_NAME", "STRING", "caf\xE9");
             return Shown{app, "café"};
         }},
        {"client reparented into the frame under the pointer",
         [&] {
             const auto [elsewhere, client] = framed("moving in");
             const auto [frame, leaving] = framed("leaving");  // above it, soon without client
             XDestroyWindow(d, leaving);
             rest(at);
             XReparentWindow(d, client, frame, 0, 20);
             XSync(d, False);
             return Shown{client, "moving in"};
         }},
        {"client withdrawn",
         [&] {
             const Window below = managed("below");
             const Window app = Client(at.x - 50, at.y - 50, 100, 100, "withdrawn");
             rest(at);
             const Window frame = FrameWindow(app);
             XWithdrawWindow(d, app, DefaultScreen(d));
             XSync(d, False);
             XWindowAttributes a{};
             EXPECT_TRUE(WaitUntil([&] { return !XGetWindowAttributes(d, frame, &a); }, 3s));
             return Shown{below, "below"};
         }},
        {"client withdrawn inside its frame",
         [&] {
             const auto [frame, client] = framed("withdrawn");
             rest(at);
             XDeleteProperty(d, client, A("WM_STATE"));
             XSync(d, False);
             return Shown{frame, "frame"};
         }},
        {"client destroyed",
         [&] {
             const auto [frame, client] = framed("destroyed");
             rest(at);
             XDestroyWindow(d, client);
             XSync(d, False);
             return Shown{frame, "frame"};
         }},
        {"client destroyed and its XID taken by a new one",
         [&] {
             const auto [frame, client] = framed("old");
             rest(at);
             XDestroyWindow(d, client);
             XSync(d, False);
             // A client may give an XID of its range to a new window once the old one is gone.
             xcb_connection_t* c = XGetXCBConnection(d);
             xcb_create_window(c, XCB_COPY_FROM_PARENT, static_cast<xcb_window_t>(client),
                               static_cast<xcb_window_t>(frame), 0, 20, 260, 180, 0,
                               XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
             xcb_map_window(c, static_cast<xcb_window_t>(client));
             WithState(client);
             SetProperty(client, "_NET_WM_NAME", "UTF8_STRING", "new");
             return Shown{client, "new"};
         }},
        {"window mapped over the pointer",
         [&] {
             managed("under");
             rest(at);
             const Window popup = Plain(session->root(), at.x - 10, at.y - 10, 40, 40, false, true);
             SetProperty(popup, "_NET_WM_NAME", "UTF8_STRING", "popup");
             XMapWindow(d, popup);
             XSync(d, False);
             return Shown{popup, "popup"};
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const Shown shown = row.change();
        Timer1_Timer(*ws, target, form);
        EXPECT_EQ(target, shown.target);
        EXPECT_EQ(form.label2, shown.label);
        ++place;
    }
}

TEST_F(X11Test, WindowsAreWatchedOnlyWhileThePointerRestsOnThem) {
    // What any client selects on a window; nothing but the backend selects on these.
    auto selected = [&](Window w) {
        XWindowAttributes a{};
        XGetWindowAttributes(d, w, &a);
        return a.all_event_masks;
    };
    const Window frame = Plain(session->root(), 100, 100, 200, 150, true, true);
    const Window client = WithState(Plain(frame, 0, 20, 200, 130, true));
    std::vector<Window> crowd{Plain(session->root(), 400, 100, 300, 200, true, true)};
    for (int i = 0; i < 300; ++i) {
        crowd.push_back(Plain(crowd[0], i % 30 * 10, i / 30 * 10, 8, 8, true));
    }
    Form form;
    HWND target = 0;
    // The round trips of the tick after the pointer came, and of the next one.
    auto ticks_at = [&](int x, int y) {
        session->MovePointer(x, y);
        std::vector<unsigned long> trips;
        for (int tick = 0; tick < 2; ++tick) {
            const unsigned long before = ws->RoundTrips();
            Timer1_Timer(*ws, target, form);
            trips.push_back(ws->RoundTrips() - before);
        }
        return trips;
    };
    using Trips = std::vector<unsigned long>;

    // The pointer, the frame, its children, the title; then the pointer alone.
    EXPECT_EQ(ticks_at(150, 150), (Trips{4, 1}));
    EXPECT_EQ(target, client);
    EXPECT_NE(selected(frame), 0);
    EXPECT_NE(selected(client), 0);
    // A window with more windows inside than are watched is read again at each tick instead.
    EXPECT_GT(ticks_at(650, 250)[1], 2u);
    EXPECT_EQ(target, crowd[0]);
    for (const Window w : {frame, client, crowd[0], crowd[1]}) {
        EXPECT_EQ(selected(w), 0);
    }
    // Back on the frame, the client found before is checked instead of searched for; once it
    // has gone, the frame is searched again.
    EXPECT_EQ(ticks_at(150, 150), (Trips{3, 1}));
    ticks_at(650, 250);
    XDestroyWindow(d, client);
    const Window other = WithState(Plain(frame, 0, 20, 200, 130, true));
    EXPECT_EQ(ticks_at(150, 150)[1], 1u);
    EXPECT_EQ(target, other);
    // Its title is kept as far as a tick reads it; more is read from the server.
    const std::string long_title = Repeat("あ", 150);
    SetProperty(other, "_NET_WM_NAME", "UTF8_STRING", long_title);
    EXPECT_EQ(ticks_at(150, 150)[1], 1u);
    EXPECT_EQ(form.label2, Repeat("あ", 33));
    EXPECT_EQ(Text(other, 1000), long_title);

    // Gone between GetCursorPos and WindowFromPoint: watching it fails without a word.
    const Window popup = Plain(session->root(), 500, 500, 50, 50, true, true);
    session->MovePointer(520, 520);
    POINT p{};
    ws->GetCursorPos(&p);
    XDestroyWindow(d, popup);
    XSync(d, False);
    EXPECT_EQ(ws->WindowFromPoint(p.x, p.y), 0u);
    ws->Pump();
    EXPECT_EQ(selected(frame), 0);
}

// Pump handles every event that has come without a round trip: those read into a queue along
// with replies, where the descriptor no longer shows them, and those still in the socket.
TEST_F(X11Test, PumpHandlesQueuedEventsAndThoseInTheSocketWithoutARoundTrip) {
    const Window frame = Plain(session->root(), 100, 100, 200, 150, true, true);
    const Window client = WithState(Plain(frame, 0, 20, 200, 130, true));
    const Window elsewhere = Plain(session->root(), 600, 600, 10, 10, false);
    session->MovePointer(150, 150);
    const int fd = ws->EventDescriptor();
    auto readable = [fd](int timeout_ms) {
        pollfd p{fd, POLLIN, 0};
        return poll(&p, 1, timeout_ms) == 1 && (p.revents & POLLIN) != 0;
    };
    Form form;
    HWND target = 0;
    const struct {
        const char* name;
        std::function<void()> after_the_tick;  // with the title change waiting in the socket
    } rows[] = {
        {"nothing sent since", [] {}},
        {"a reply read since brought it along",
         [&] {
             ws->IsWindow(elsewhere);
             EXPECT_FALSE(readable(0));
         }},
        {"a request sent through xcb and flushed, which reads what it finds",
         [&] {
             xcb_connection_t* c = XGetXCBConnection(ws->display());
             xcb_no_operation(c);
             xcb_flush(c);
             EXPECT_FALSE(readable(0));
         }},
        {"an Xlib round trip since, as the global keys make when the keyboard mapping changes",
         [&] {
             XSync(ws->display(), False);
             EXPECT_FALSE(readable(0));
         }},
        {"read into Xlib's queue without a request",
         [&] {
             XEvent event;
             XPeekEvent(ws->display(), &event);
             EXPECT_FALSE(readable(0));
         }},
    };
    int change = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        // Watched, its title kept; the tick ends with the drain, as at rest.
        Timer1_Timer(*ws, target, form);
        Timer1_Timer(*ws, target, form);
        ASSERT_EQ(target, client);
        const std::string title = "change " + std::to_string(++change);
        SetProperty(client, "_NET_WM_NAME", "UTF8_STRING", title);
        ASSERT_TRUE(readable(2000));
        row.after_the_tick();
        const unsigned long trips = ws->RoundTrips();
        ws->Pump();
        EXPECT_EQ(ws->RoundTrips(), trips);
        EXPECT_FALSE(readable(0));
        EXPECT_EQ(Text(client), title);
    }
}

// --- Reading titles ----------------------------------------------------------------------

TEST_F(X11Test, TitleIsReadInItsEncodingAndCutAtACharacterBoundary) {
    struct Property {
        const char* name;
        const char* type;
        std::string bytes;
    };
    const std::string a33 = "a" + Repeat("あ", 33);
    const std::string huge = "a" + Repeat("あ", (16 << 20) / 3);
    const struct {
        const char* name;
        std::vector<Property> properties;
        int capacity;
        std::string expected;
    } rows[] = {
        {"UTF-8 Japanese", {{"_NET_WM_NAME", "UTF8_STRING", kJapanese}}, 100, kJapanese},
        {"_NET_WM_NAME before WM_NAME",
         {{"_NET_WM_NAME", "UTF8_STRING", "new"}, {"WM_NAME", "STRING", "old"}},
         100,
         "new"},
        {"empty _NET_WM_NAME still counts",
         {{"_NET_WM_NAME", "UTF8_STRING", ""}, {"WM_NAME", "STRING", "old"}},
         100,
         ""},
        {"_NET_WM_NAME typed STRING is not one",
         {{"_NET_WM_NAME", "STRING", "xdo"}, {"WM_NAME", "STRING", "wm"}},
         100,
         "wm"},
        {"Latin-1 STRING", {{"WM_NAME", "STRING", "caf\xE9"}}, 100, "café"},
        {"UTF8_STRING WM_NAME", {{"WM_NAME", "UTF8_STRING", kJapanese}}, 100, kJapanese},
        {"COMPOUND_TEXT Japanese from Xlib",
         {{"WM_NAME", "COMPOUND_TEXT", XlibCompoundText(kJapanese)}},
         100,
         kJapanese},
        {"WM_NAME of an unknown type", {{"WM_NAME", "INTEGER", "12"}}, 100, ""},
        {"no name at all", {}, 100, ""},
        {"invalid UTF-8", {{"_NET_WM_NAME", "UTF8_STRING", "a\xFF\xC0z"}}, 100, "a\uFFFD\uFFFDz"},
        {"cut inside a 3-byte character",
         {{"_NET_WM_NAME", "UTF8_STRING", a33}},
         100,
         "a" + Repeat("あ", 32)},
        {"cut inside a 4-byte character",
         {{"_NET_WM_NAME", "UTF8_STRING", "ab" + Repeat("😀", 25)}},
         100,
         "ab" + Repeat("😀", 24)},
        {"cut COMPOUND_TEXT",
         {{"WM_NAME", "COMPOUND_TEXT", XlibCompoundText(Repeat("日", 40))}},
         100,
         Repeat("日", 33)},
        {"16 MiB _NET_WM_NAME",
         {{"_NET_WM_NAME", "UTF8_STRING", huge}},
         100,
         "a" + Repeat("あ", 32)},
        {"16 MiB COMPOUND_TEXT",
         {{"WM_NAME", "COMPOUND_TEXT", "\x1B$)B" + Repeat("\xA4\xA2", 8 << 20)}},
         100,
         Repeat("あ", 33)},
        {"capacity 1 holds only the zero", {{"_NET_WM_NAME", "UTF8_STRING", kJapanese}}, 1, ""},
        {"capacity 3 has no room for a character",
         {{"_NET_WM_NAME", "UTF8_STRING", kJapanese}},
         3,
         ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const Window w = Plain(session->root(), 0, 0, 10, 10, false);
        for (const Property& p : row.properties) {
            SetProperty(w, p.name, p.type, p.bytes);
        }
        const unsigned long before = ws->RoundTrips();
        EXPECT_EQ(Text(w, row.capacity), row.expected);
        EXPECT_LE(ws->RoundTrips() - before, 1u);  // however long the title
    }
    char untouched = 'Z';
    EXPECT_EQ(ws->GetWindowTextA(windows.back(), &untouched, 0), 0);
    EXPECT_EQ(untouched, 'Z');
}

// --- Writing titles ----------------------------------------------------------------------

TEST_F(X11Test, WrittenTitleReadsBackInBothPropertiesThroughXlib) {
    const std::string mib = Repeat("日本語とEnglish、", (1 << 20) / 29);
    const struct {
        const char* name;
        std::string text;
        std::string expected;
        const char* wm_type;
    } rows[] = {
        {"Latin-1", "café", "café", "STRING"},
        {"Japanese", kJapanese, kJapanese, "COMPOUND_TEXT"},
        {"kana and emoji", "ｱｲ😀", "ｱｲ😀", "COMPOUND_TEXT"},
        {"invalid UTF-8",
         "a\xFF"
         "b",
         "a\uFFFDb", "COMPOUND_TEXT"},
        {"empty", "", "", "STRING"},
        {"1 MiB", mib, mib, "COMPOUND_TEXT"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const Window w = Plain(session->root(), 0, 0, 10, 10, false);
        EXPECT_EQ(ws->SetWindowTextA(w, row.text.c_str()), 1);
        EXPECT_EQ(ws->UpdateWindow(w), 1);
        EXPECT_EQ(session->NetWmName(w), row.expected);
        std::string type;
        session->WmName(w, &type);
        EXPECT_EQ(type, row.wm_type);
        EXPECT_EQ(XlibDecoded(w, XA_WM_NAME), row.expected);
    }
}

// --- Our own windows ---------------------------------------------------------------------

TEST_F(X11Test, OwnWindowsAnswerThemselves) {
    const Window form = Client(100, 100, 300, 200, "server title");
    const Window text1 = Plain(form, 10, 10, 150, 24, true);
    OwnText form_text{"Form1 caption"}, text1_text{"a" + Repeat("テ", 400)};
    ws->DeclareOwnWindow(form, form_text.Window());
    ws->DeclareOwnWindow(text1, text1_text.Window());

    const unsigned long before = ws->RoundTrips();
    EXPECT_EQ(Text(form), "Form1 caption");
    EXPECT_EQ(Text(text1), "a" + Repeat("テ", 32));
    EXPECT_LT(text1_text.asked, std::size_t{2} * kTitleBufferSize);  // not the whole of a long text
    EXPECT_EQ(ws->SetWindowTextA(text1, "new \xFF"), 1);
    EXPECT_EQ(ws->RoundTrips(), before);  // no server involved
    EXPECT_EQ(text1_text.text, "new \uFFFD");
    EXPECT_EQ(session->NetWmName(text1), "");
    EXPECT_EQ(ws->UpdateWindow(form), 1);
    EXPECT_EQ(form_text.repaints, 1);
}

// --- Windows that vanish -----------------------------------------------------------------

TEST_F(X11Test, WindowDestroyedBeforeACallGivesEmptyAndZeroAnswersSilently) {
    char text[kTitleBufferSize];
    RECT rect{};
    // Each call's answer, which is all zeros once the window has gone.
    const struct {
        const char* name;
        std::function<long long(HWND)> call;
    } calls[] = {
        {"WindowFromPoint", [&](HWND w) { return ws->WindowFromPoint(250, 200) == w; }},
        {"IsWindow", [&](HWND w) { return ws->IsWindow(w); }},
        {"GetWindowTextA",
         [&](HWND w) {
             std::strcpy(text, "stale");
             return ws->GetWindowTextA(w, text, sizeof text) + text[0];
         }},
        {"SetWindowTextA", [&](HWND w) { return ws->SetWindowTextA(w, "new"); }},
        {"UpdateWindow", [&](HWND w) { return ws->UpdateWindow(w); }},
        {"GetWindowRect",
         [&](HWND w) {
             rect = {1, 1, 1, 1};
             return ws->GetWindowRect(w, &rect) + rect.left + rect.top + rect.right + rect.bottom;
         }},
        {"SetWindowPos",
         [&](HWND w) { return ws->SetWindowPos(w, HWND_TOPMOST, 0, 0, 50, 50, 0x50); }},
    };
    session->MovePointer(250, 200);
    for (const auto& c : calls) {
        SCOPED_TRACE(c.name);
        const Window w = Client(100, 100, 300, 200, "Vanishing");
        EXPECT_NE(c.call(w), 0);  // alive, and known to WindowFromPoint from then on
        XDestroyWindow(d, w);
        XSync(d, False);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(c.call(w), 0);
        Form form;
        HWND target = w;
        Command1_Click(*ws, target, form, 0);
        Timer1_Timer(*ws, target, form);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(ws->IsWindow(session->root()), 1);  // the connection is still there
    }
}

// --- Placement -------------------------------------------------------------------------

TEST_F(X11Test, WindowRectIsTheFrameOfATopLevelAndTheBorderOfAnyOther) {
    const Window app = Client(100, 100, 300, 200, "Framed");
    const Window child = Plain(app, 20, 30, 50, 40, true, false, 3);
    const Window popup = Plain(session->root(), 600, 100, 80, 60, true, true, 2);
    for (const Window w : {app, child, popup}) {
        RECT r{};
        EXPECT_EQ(ws->GetWindowRect(w, &r), 1);
        EXPECT_EQ(r, w == app ? Frame(app) : RootRect(w));
    }
}

TEST_F(X11Test, TopmostPlacementSetsAboveMovesNothingAndMovesWhereAsked) {
    const struct {
        const char* name;
        int gravity;  // 0: no WM_NORMAL_HINTS gravity
    } rows[] = {{"no gravity", 0},
                {"north-west", NorthWestGravity},
                {"static", StaticGravity},
                {"centre", CenterGravity},
                {"south-east", SouthEastGravity}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const Window w = Client(200, 150, 320, 240, "Placed");
        if (row.gravity != 0) {
            XSizeHints hints{};
            hints.flags = USPosition | PPosition | PWinGravity;
            hints.win_gravity = row.gravity;
            XSetWMNormalHints(d, w, &hints);
            XSync(d, False);
        }
        const Window focused = Client(800, 600, 100, 100, "Focused");
        ASSERT_TRUE(WaitUntil([&] { return ActiveWindow() == focused; }, 2s));
        RECT before{};
        ws->GetWindowRect(w, &before);
        const RECT frame = Frame(w), inside = RootRect(w);
        EXPECT_EQ(before, frame);

        Form_Load(*ws, w);
        ASSERT_TRUE(WaitUntil([&] { return IsAbove(w); }, 2s));
        RECT after{};
        ws->GetWindowRect(w, &after);
        EXPECT_EQ(after, before);
        EXPECT_EQ(Frame(w), frame);
        EXPECT_EQ(RootRect(w), inside);
        EXPECT_EQ(ActiveWindow(), focused);

        const RECT asked{before.left + 30, before.top + 20, before.right + 70, before.bottom + 30};
        EXPECT_EQ(ws->SetWindowPos(w, HWND_TOPMOST, asked.left, asked.top, asked.right - asked.left,
                                   asked.bottom - asked.top, SWP_NOACTIVATE),
                  1);
        // Openbox moves the frame first and sizes the client a moment later.
        EXPECT_TRUE(WaitUntil(
            [&] { return ws->GetWindowRect(w, &after) && after == asked && Frame(w) == asked; },
            2s))
            << after << Frame(w);
        EXPECT_EQ(ActiveWindow(), focused);

        // SWP_NOMOVE, SWP_NOSIZE and SWP_NOZORDER leave those alone; HWND_NOTOPMOST undoes.
        constexpr UINT kNoMoveNoSize = 0x0001 | 0x0002 | SWP_NOACTIVATE, kNoZOrder = 0x0004;
        ws->SetWindowPos(w, static_cast<HWND>(-2), 0, 0, 1, 1, kNoMoveNoSize);
        EXPECT_TRUE(WaitUntil([&] { return !IsAbove(w); }, 2s));
        ws->SetWindowPos(w, HWND_TOPMOST, 0, 0, 1, 1, kNoMoveNoSize | kNoZOrder);
        ws->SetWindowPos(w, HWND_TOPMOST, asked.left + 5, asked.top, asked.right - asked.left,
                         asked.bottom - asked.top, kNoZOrder | SWP_NOACTIVATE);
        EXPECT_TRUE(WaitUntil([&] { return Frame(w).left == asked.left + 5; }, 2s));
        EXPECT_EQ(Frame(w).right, asked.right + 5);
        EXPECT_FALSE(IsAbove(w));

        // Without SWP_NOACTIVATE the window asks to be activated, as on Windows.
        ws->SetWindowPos(w, HWND_TOPMOST, asked.left, asked.top, asked.right - asked.left,
                         asked.bottom - asked.top, 0);
        EXPECT_TRUE(WaitUntil([&] { return ActiveWindow() == w; }, 2s));
    }
}

TEST_F(X11Test, UnmappedWindowIsShownAboveAtOnce) {
    const Window w = Plain(session->root(), 300, 200, 200, 100, false);
    Form_Load(*ws, w);
    XWindowAttributes a{};
    EXPECT_TRUE(
        WaitUntil([&] { return XGetWindowAttributes(d, w, &a) && a.map_state == IsViewable; }, 2s));
    EXPECT_TRUE(IsAbove(w));  // the window manager read it from the window as it took it on
}

TEST_F(X11Test, AWindowIsPlacedOnceTheWindowManagerHasFramedIt) {
    const auto framed = [&](Window w) {
        XWindowAttributes a{};
        return XGetWindowAttributes(d, w, &a) != 0 && a.map_state == IsViewable &&
               !Property32(d, w, "WM_STATE").empty() &&
               !Property32(d, w, "_NET_FRAME_EXTENTS").empty();
    };
    const struct {
        const char* name;
        bool framed_before;  // a client openbox has framed already
        bool mapped_after;   // mapped once the wait has started
        bool placed;
    } rows[] = {{"placed already", true, false, true},
                {"mapped while waited for", false, true, true},
                {"never mapped", false, false, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const Window w = row.framed_before ? Client(100, 100, 300, 200, "Placed")
                                           : Plain(session->root(), 100, 100, 300, 200, false);
        int calls = 0;
        bool framed_when_called = false;
        ws->WhenPlaced(w, [&] {
            ++calls;
            framed_when_called = framed(w);
        });
        if (row.mapped_after) {
            EXPECT_EQ(calls, 0);
            XMapWindow(d, w);
            XSync(d, False);
        }
        // Told by the events that Pump reads, and once only.
        WaitUntil(
            [&] {
                ws->Pump();
                return calls != 0;
            },
            row.placed ? 3s : 300ms);
        EXPECT_EQ(calls, row.placed ? 1 : 0);
        EXPECT_EQ(framed_when_called, row.placed);
        if (row.mapped_after) {
            frames.push_back(FrameWindow(w));
        }
    }
}

TEST_F(X11Test, EachErrorIsCountedByTheTrapWhoseRequestCausedIt) {
    std::string error;
    const auto x = X11Connection::Open(session->display_name().c_str(), &error);
    ASSERT_NE(x, nullptr) << error;
    backend_display = x->display();
    const Window alive = Plain(session->root(), 0, 0, 10, 10, false);
    const Window gone = XCreateSimpleWindow(d, session->root(), 0, 0, 1, 1, 0, 0, 0);
    XDestroyWindow(d, gone);
    XSync(d, False);
    const auto write = [&](bool fails) {
        return xcb_change_property_checked(x->xcb(), XCB_PROP_MODE_REPLACE,
                                           static_cast<xcb_window_t>(fails ? gone : alive),
                                           XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 1, "a");
    };
    const struct {
        const char* name;
        bool outer_fails;
        bool inner_fails;
    } rows[] = {{"outer request fails", true, false},
                {"inner request fails", false, true},
                {"both fail", true, true},
                {"neither fails", false, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        X11Connection::Trap outer(*x);
        outer.Check(write(row.outer_fails));
        {
            // Its wait brings back the outer request's answer too.
            X11Connection::Trap inner(*x);
            inner.Check(write(row.inner_fails));
            EXPECT_EQ(inner.Failed(), row.inner_fails);
        }
        outer.Check(write(false));
        EXPECT_EQ(outer.Failed(), row.outer_fails);
    }
    backend_display = ws->display();
}

// --- A lost connection -----------------------------------------------------------------

TEST_F(X11Test, LostConnectionEndsTheProgramWithOneMessage) {
    const struct {
        const char* name;
        std::function<void(X11WindowSystem&)> call;
    } rows[] = {
        {"waiting for a reply",
         [](X11WindowSystem& x) {
             POINT p;
             x.GetCursorPos(&p);
         }},
        {"writing a title", [](X11WindowSystem& x) { x.SetWindowTextA(1, "title"); }},
        {"handling events, with another handler installed since, as Qt does",
         [](X11WindowSystem& x) {
             XSetIOErrorHandler([](Display*) -> int { _exit(2); });
             x.Pump();
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EXIT(
            {
                std::string error;
                auto x = X11WindowSystem::Open(session->display_name().c_str(), &error);
                const Window w =
                    XCreateSimpleWindow(x->display(), session->root(), 0, 0, 1, 1, 0, 0, 0);
                XKillClient(x->display(), w);  // the server closes our own connection
                XFlush(x->display());
                WaitUntil([] { return false; }, 200ms);
                row.call(*x);
            },
            ::testing::ExitedWithCode(1), "^velmo: lost the connection to the X server\n$");
    }
}

}  // namespace
