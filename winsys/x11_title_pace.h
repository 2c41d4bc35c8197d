// How often a kept title may be written again, and when the application has won. Apart from
// the clock it is given, it knows nothing of X: each kept window has one.
#pragma once

#include <chrono>
#include <optional>

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
    bool Wrote(Clock::time_point now, bool contested) {
        if (!contested || !fighting_) {
            fight_start_ = now;
        }
        fighting_ = contested;
        last_ = now;
        return now - fight_start_ < kGiveUpAfter;
    }

  private:
    std::optional<Clock::time_point> last_;
    Clock::time_point fight_start_{};
    bool fighting_ = false;
};
