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
    // A write that follows the one before within this time answers an application that set
    // its title again at once: the two are fighting.
    static constexpr auto kFightGap = std::chrono::milliseconds(500);
    // Fighting this long without a pause: the application wins.
    static constexpr auto kGiveUpAfter = std::chrono::seconds(3);

    // Whether the title may be written again at `now`.
    bool MayWrite(Clock::time_point now) const { return !last_ || now - *last_ >= kMinInterval; }

    // Records a write at `now`. False when it would continue a fight that has lasted
    // kGiveUpAfter: then the title is to be left as the application set it.
    bool Wrote(Clock::time_point now) {
        if (!last_ || now - *last_ > kFightGap) {
            fight_start_ = now;
        }
        last_ = now;
        return now - fight_start_ < kGiveUpAfter;
    }

  private:
    std::optional<Clock::time_point> last_;
    Clock::time_point fight_start_{};
};
