// Titles that stay: a title written to another application's window is written again when the
// application sets its own, and the title the window had before this program first wrote to it
// can be given back. The rules know no window system: a backend reads and writes titles in its
// own form and passes on the notices that a title has changed or a window has ended.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "winsys/title_store.h"
#include "winsys/window_system.h"

// How many windows' first titles are recorded for giving back, and how many windows are kept at
// their written title at once (kMaxTitleBytes, beside the store, bounds the titles kept).
inline constexpr std::size_t kMaxTitleRecords = 256;
inline constexpr std::size_t kMaxKeptTitles = 32;

// What the front-ends ask of keeping: keep the target's title at what was last written to it,
// give it the title it had before the first write, and tell whether it is kept. Keep and give
// back answer whether they did anything.
class TitleKeeping {
  public:
    virtual bool KeepTitle(HWND window) = 0;
    virtual bool GiveTitleBack(HWND window) = 0;
    virtual bool IsTitleKept(HWND window) const = 0;

  protected:
    ~TitleKeeping() = default;
};

// How often a kept title may be written again, and when the application has won. Each kept
// window has one.
class TitlePace {
  public:
    using Clock = std::chrono::steady_clock;
    // At most four writes a second for one window.
    static constexpr auto kMinInterval = std::chrono::milliseconds(250);
    // An application that sets its title faster than that for this long wins.
    static constexpr auto kGiveUpAfter = std::chrono::seconds(3);

    // Whether the title may be written again at `now`.
    bool MayWrite(Clock::time_point now) const { return !last_ || now - *last_ >= kMinInterval; }

    // Records a write at `now`, `contested` when the title it answers was set before MayWrite
    // allowed it. False when the writes have been contested for kGiveUpAfter in a row: then the
    // title is to be left as the application set it.
    bool Wrote(Clock::time_point now, bool contested);

  private:
    std::optional<Clock::time_point> last_;
    Clock::time_point fight_start_{};
    bool fighting_ = false;
};

// The rules of keeping, over the titles of one backend. The clock is given, so that a test can
// set it.
template <typename Title>
class TitleKeeper final : public TitleNotices {
  public:
    using Clock = TitlePace::Clock;
    using Now = std::function<Clock::time_point()>;

    explicit TitleKeeper(TitleStore<Title>& store, Now now = SteadyNow)
        : store_(store), now_(std::move(now)) {}

    // What the backend is to pass on for `window`: its end while its first title is recorded,
    // and its title's changes while it is kept, except while an answer waits for the pace: the
    // title is read when the answer is due anyway, so a flood of changes then costs nothing.
    Listening ListeningTo(HWND window) const {
        const auto it = records_.find(window);
        if (it == records_.end()) {
            return {};
        }
        return {true, it->second.kept && !it->second.paused};
    }

    // A plain write of `title` to `window`. The first one records the title the window had
    // before; each remembers what it wrote, unless that is too long to keep or the write did not
    // take, and ends keeping. Answers whether the store wrote it.
    bool Write(HWND window, Title title) {
        Record* record = RecordFor(window);
        const bool written = store_.WriteTitle(window, title);
        Remember(window, record, std::move(title), written);
        return written;
    }

    // The same for a plain write the backend makes itself, in a form of its own (such as 8-bit
    // text): `write()` makes it and answers whether it took; `title` is what the window then
    // holds, as the store reads it.
    template <typename Writes>
    bool Write(HWND window, Title title, Writes write) {
        Record* record = RecordFor(window);
        const bool written = write();
        Remember(window, record, std::move(title), written);
        return written;
    }

    // Keeps `window` at the title last written to it, if that write took, until a plain write,
    // the window's end, or an application that keeps setting its own faster than the pace for
    // kGiveUpAfter.
    bool KeepTitle(HWND window) {
        const auto it = records_.find(window);
        if (it == records_.end() || !it->second.written) {
            return false;
        }
        Record& record = it->second;
        if (!record.kept) {
            if (KeptCount() >= kMaxKeptTitles) {
                return false;
            }
            record.kept = true;
            record.pace = {};
            record.contested = false;
            record.own_notices = 0;
            record.paused = false;
            store_.Listen(window, ListeningTo(window));
        }
        // The application may have set its title since the write: look once.
        record.changed = true;
        looks_due_ = true;
        return true;
    }

    // Writes the title from before the first write back and ends keeping; the record stays,
    // so that a later give-back gives the same title.
    bool GiveTitleBack(HWND window) {
        const auto it = records_.find(window);
        if (it == records_.end()) {
            return false;
        }
        Stop(window, it->second);
        return store_.WriteTitle(window, it->second.original);
    }

    bool IsTitleKept(HWND window) const {
        const auto it = records_.find(window);
        return it != records_.end() && it->second.kept;
    }

    // The notice that `window`'s title has changed. The last notices after a write of ours are
    // its own, as a window system reports changes in the order it makes them: should the
    // application's come in between, ours is taken for the application's, which only costs
    // one more look.
    void OnTitleChanged(HWND window) override {
        const auto it = records_.find(window);
        if (it == records_.end() || !it->second.kept) {
            return;
        }
        Record& record = it->second;
        if (record.own_notices > 0) {
            --record.own_notices;
            return;
        }
        record.changed = true;
        looks_due_ = true;
        if (!record.pace.MayWrite(now_())) {
            record.contested = true;
            if (!record.paused) {
                record.paused = true;
                store_.Listen(window, ListeningTo(window));
            }
        }
    }

    // The notice that `window` has ended: its record goes, since a new window may take its
    // handle and is another window.
    void OnWindowEnded(HWND window) override { records_.erase(window); }

    // Writes the kept title again where the application has set another, at once or, where
    // that would be sooner than the pace allows, at the first call after. The backend calls it
    // whenever it has passed on every notice it holds, and at least every tick.
    void AnswerChanges() override {
        if (!looks_due_) {
            return;
        }
        const auto now = now_();
        std::vector<HWND> due;
        bool waiting = false;
        for (const auto& [window, record] : records_) {
            if (record.kept && record.changed) {
                if (record.pace.MayWrite(now)) {
                    due.push_back(window);
                } else {
                    waiting = true;
                }
            }
        }
        looks_due_ = waiting;
        for (const HWND window : due) {
            const auto it = records_.find(window);
            if (it != records_.end()) {
                Answer(window, it->second, now);
            }
        }
    }

  private:
    static Clock::time_point SteadyNow() { return Clock::now(); }

    // A window written to: its title from before the first write, the last title written
    // (unless too long to keep) and whether that one is kept.
    struct Record {
        Title original;
        std::optional<Title> written;
        bool kept = false;
        bool changed = false;    // the application set a title since it was last looked at
        bool contested = false;  // and did so sooner than the pace allowed an answer
        int own_notices = 0;     // notices still to come from our own last write
        bool paused = false;     // changes are not listened to until the answer is due
        TitlePace pace;
    };

    // The record of `window`, made on the first write with the title the window has now;
    // nullptr when the window has gone or kMaxTitleRecords windows are recorded already.
    Record* RecordFor(HWND window) {
        if (const auto it = records_.find(window); it != records_.end()) {
            return &it->second;
        }
        Title original{};
        if (records_.size() >= kMaxTitleRecords || !store_.ReadTitle(window, &original)) {
            return nullptr;
        }
        Record& record = records_[window];
        record.original = std::move(original);
        store_.Listen(window, ListeningTo(window));
        return &record;
    }

    void Remember(HWND window, Record* record, Title title, bool written) {
        if (record != nullptr) {
            record->written = written && store_.TitleBytes(title) <= kMaxTitleBytes
                                  ? std::optional<Title>(std::move(title))
                                  : std::nullopt;
            Stop(window, *record);
        }
    }

    void Stop(HWND window, Record& record) {
        if (record.kept) {
            record.kept = false;
            store_.Listen(window, ListeningTo(window));
        }
    }

    void Answer(HWND window, Record& record, Clock::time_point now) {
        record.changed = false;
        if (record.paused) {
            // Listening again before reading: a change after the read is then noticed.
            record.paused = false;
            store_.Listen(window, ListeningTo(window));
        }
        Title title{};
        if (!store_.ReadTitle(window, &title) || title == *record.written) {
            record.contested = false;
            return;
        }
        if (!record.pace.Wrote(now, std::exchange(record.contested, false))) {
            Stop(window, record);
            return;
        }
        record.own_notices = store_.NoticesPerWrite();
        store_.WriteTitle(window, *record.written);
    }

    std::size_t KeptCount() const {
        return static_cast<std::size_t>(std::count_if(
            records_.begin(), records_.end(), [](const auto& entry) { return entry.second.kept; }));
    }

    TitleStore<Title>& store_;
    Now now_;
    std::unordered_map<HWND, Record> records_;
    bool looks_due_ = false;  // some kept window's title may need writing again
};

// A window system whose plain writes keep titles: the eight operations of `windows`, with
// SetWindowTextA of another program's window recorded by the rules over `store`, which it has
// tell its notices here. Composed at the program's entry.
template <typename Title>
class KeptTitles final : public WindowSystem, public TitleKeeping {
  public:
    KeptTitles(WindowSystem& windows, TitleStore<Title>& store)
        : windows_(windows), store_(store), keeper_(store) {
        store_.NotifyTo(&keeper_);
    }
    ~KeptTitles() override { store_.NotifyTo(nullptr); }

    BOOL GetCursorPos(POINT* point) override { return windows_.GetCursorPos(point); }
    HWND WindowFromPoint(LONG x, LONG y) override { return windows_.WindowFromPoint(x, y); }
    BOOL IsWindow(HWND window) override { return windows_.IsWindow(window); }
    int GetWindowTextA(HWND window, char* buffer, int capacity) override {
        return windows_.GetWindowTextA(window, buffer, capacity);
    }
    // A text the store cannot tell the title of is not written at all: a write of something
    // else than the user's text would lose the window's title.
    BOOL SetWindowTextA(HWND window, const char* text) override {
        if (text == nullptr || store_.IsOwnWindow(window)) {
            return windows_.SetWindowTextA(window, text);
        }
        Title title{};
        if (!store_.TitleOfText(text, &title)) {
            return 0;
        }
        const bool written = keeper_.Write(
            window, std::move(title), [&] { return windows_.SetWindowTextA(window, text) != 0; });
        return written ? 1 : 0;
    }
    BOOL UpdateWindow(HWND window) override { return windows_.UpdateWindow(window); }
    BOOL GetWindowRect(HWND window, RECT* rect) override {
        return windows_.GetWindowRect(window, rect);
    }
    BOOL SetWindowPos(HWND window, HWND insert_after, int x, int y, int cx, int cy,
                      UINT flags) override {
        return windows_.SetWindowPos(window, insert_after, x, y, cx, cy, flags);
    }

    bool KeepTitle(HWND window) override { return keeper_.KeepTitle(window); }
    bool GiveTitleBack(HWND window) override { return keeper_.GiveTitleBack(window); }
    bool IsTitleKept(HWND window) const override { return keeper_.IsTitleKept(window); }

  private:
    WindowSystem& windows_;
    TitleStore<Title>& store_;
    TitleKeeper<Title> keeper_;
};
