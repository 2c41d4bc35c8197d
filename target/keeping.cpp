#include "target/keeping.h"

bool TitlePace::Wrote(Clock::time_point now, bool contested) {
    // A fight begins with the first contested write and lasts while every write is contested.
    if (!contested || !fighting_) {
        fight_start_ = now;
    }
    fighting_ = contested;
    last_ = now;
    return now - fight_start_ < kGiveUpAfter;
}
