// The mix of changes that the X and the Win32 churn programs make, one at a time: mostly new
// titles, then windows coming, going, hiding and moving, and the pointer moving over them.
#pragma once

#include <cstddef>

// A churn program keeps at most this many windows; a new one past it replaces another.
inline constexpr std::size_t kMaxChurnWindows = 40;

// Makes one change, chosen by `roll` (drawn evenly from 1 to 100). `churn` offers Count,
// Target (half of the time the window under the pointer, else any), Create, and Destroy,
// SetTitle, ShowOrHide, DropTitle and Move of a target, and MovePointer.
template <typename Churn>
void ChurnOnce(Churn& churn, int roll) {
    if (churn.Count() == 0) {
        churn.Create();
    } else if (roll <= 14) {
        if (churn.Count() >= kMaxChurnWindows) {
            churn.Destroy(churn.Target());
        }
        churn.Create();
    } else if (roll <= 44) {
        churn.SetTitle(churn.Target());
    } else if (roll <= 56) {
        churn.ShowOrHide(churn.Target());
    } else if (roll <= 66) {
        churn.Destroy(churn.Target());
    } else if (roll <= 70) {
        churn.DropTitle(churn.Target());
    } else if (roll <= 74) {
        churn.Move(churn.Target());
    } else {
        churn.MovePointer();
    }
}
