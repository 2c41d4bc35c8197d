// The window system of a Wayland session whose compositor a reader of ours can ask (KWin
// through a script, GNOME Shell through an extension): the program's own windows and X11
// windows through an X11 backend on Xwayland, and what lies where through the reader, which
// sees native Wayland windows too. Xwayland's pointer stops where it last saw an X11 window, so
// the pointer and the window under it come from the compositor.
//
// A reader names an X11 window by its X id where the compositor tells it (KWin 5.27, GNOME
// Shell). KWin 6 no longer tells its scripts the X id of an X11 window. The window KWin names
// under the pointer is then held against the X11 client at the same point (the compositor's
// logical point, scaled to Xwayland's pixels): it is that client when their outer rectangles
// agree and, where both know one, their processes too. The compositor alone knows the stacking
// of native and X11 windows together, so a native window over an X11 one is named by it, and
// the client beneath it, with another frame and process, does not match. Among X11 windows
// Xwayland's stacking is the compositor's own, as it is their window manager, so the client X11
// finds at the point is mostly the one named; where it is not (KWin 6 hides windows over the
// desktop it shows without unmapping them), the clients beneath are held against it in turn.
// Captions are not compared: KWin rewrites them (blanks collapsed, a " <2>" added). While the
// reader cannot read (its reports stopped, an extension not enabled), the program says why once
// and goes on with X11 alone.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "winsys/compositor_reader.h"
#include "winsys/platform.h"
#include "winsys/x11_titles.h"

class X11WindowSystem;

class CompositorWindowSystem final : public Platform<RawTitle> {
  public:
    // Over `x11`, which must outlive this.
    CompositorWindowSystem(X11WindowSystem& x11, std::unique_ptr<CompositorReader> reader);
    ~CompositorWindowSystem() override;

    // A native window's handle lies above the 29 bits of X window ids, so that the X11 side
    // refuses it, and no handle is given twice.
    static constexpr HWND kFirstNativeHandle = 0x20000000u;
    static bool IsNativeHandle(HWND window) { return window >= kFirstNativeHandle; }

    // X11's descriptor; the reader's reports come through Qt's own watch on the session bus.
    int EventDescriptor() const override;
    // Acts on X11's events, and forgets the handles of native windows that have ended.
    void Pump() override;
    void BindGlobalKeys(std::vector<GlobalKey> keys) override;

    void DeclareOwnWindow(HWND window, OwnWindow own) override;
    void WhenPlaced(HWND window, std::function<void()> placed) override;

    // Titles kept are X11 titles: a native window reads as gone, so it is never recorded.
    bool ReadTitle(HWND window, RawTitle* title) override;
    bool WriteTitle(HWND window, const RawTitle& title) override;
    bool TitleOfText(const char* text, RawTitle* title) override;
    std::size_t TitleBytes(const RawTitle& title) const override;
    int NoticesPerWrite() const override;
    bool IsOwnWindow(HWND window) override;
    void Listen(HWND window, Listening listening) override;
    void NotifyTo(TitleNotices* notices) override;

    // A native window's title is read-only.
    bool CanWriteTitle(HWND window) override;

    BOOL GetCursorPos(POINT* point) override;
    HWND WindowFromPoint(LONG x, LONG y) override;
    BOOL IsWindow(HWND window) override;
    int GetWindowTextA(HWND window, char* buffer, int capacity) override;
    BOOL SetWindowTextA(HWND window, const char* text) override;
    BOOL UpdateWindow(HWND window) override;
    BOOL GetWindowRect(HWND window, RECT* rect) override;
    BOOL SetWindowPos(HWND window, HWND insert_after, int x, int y, int cx, int cy,
                      UINT flags) override;

  private:
    // The handle of the native window the reader knows by `id`, given on first sight.
    HWND NativeHandle(const std::string& id);
    // The reader's id behind a native handle, or nullptr for a handle never given or forgotten.
    const std::string* NativeId(HWND window) const;
    bool Reading() const;
    // The compositor's logical point in Xwayland's pixels.
    POINT ToX11(POINT logical);
    // The X11 client that the compositor's window `w` is, given `found`, what X11 finds at the
    // point; 0 if it is a native window.
    HWND MatchX11(const CompositorWindow& w, HWND found);

    X11WindowSystem& x11_;
    std::unique_ptr<CompositorReader> reader_;
    std::unordered_map<std::string, HWND> handles_;
    std::unordered_map<HWND, std::string> ids_;
    HWND next_handle_ = kFirstNativeHandle;
    // The last match of each compositor window: what it was held against, and the answer.
    struct Match {
        RECT frame;
        HWND found;
        HWND x11;
    };
    std::unordered_map<std::string, Match> matches_;
    // Xwayland's root size for the compositor's desktop size `root_for_`.
    POINT root_for_{};
    POINT root_{};
    std::string told_;  // the notice last told, "" once reading again
};
