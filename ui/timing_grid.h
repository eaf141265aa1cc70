// Which label of the main window shows which timing slot: one column of "Interval" and one of
// "Pressed" labels per entry, indexed by key position 1..15 (0: no label). The identifiers are
// the #defines of resource.h, which the resource script uses too; this is the one table the
// code and the tests read them through.
#pragma once

#include "resource.h"
#include "timing.h"

#include <array>

struct TimingGridIds {
    std::array<int, typrova::kSlotCount> intervals; // key 1 has no interval label
    std::array<int, typrova::kSlotCount> pressed;
};

constexpr TimingGridIds kEnteredGrid{
    {0, 0, IDC_ENTERED_INTERVAL2, IDC_ENTERED_INTERVAL3, IDC_ENTERED_INTERVAL4,
     IDC_ENTERED_INTERVAL5, IDC_ENTERED_INTERVAL6, IDC_ENTERED_INTERVAL7, IDC_ENTERED_INTERVAL8,
     IDC_ENTERED_INTERVAL9, IDC_ENTERED_INTERVAL10, IDC_ENTERED_INTERVAL11, IDC_ENTERED_INTERVAL12,
     IDC_ENTERED_INTERVAL13, IDC_ENTERED_INTERVAL14, IDC_ENTERED_INTERVAL15},
    {0, IDC_ENTERED_PRESSED1, IDC_ENTERED_PRESSED2, IDC_ENTERED_PRESSED3, IDC_ENTERED_PRESSED4,
     IDC_ENTERED_PRESSED5, IDC_ENTERED_PRESSED6, IDC_ENTERED_PRESSED7, IDC_ENTERED_PRESSED8,
     IDC_ENTERED_PRESSED9, IDC_ENTERED_PRESSED10, IDC_ENTERED_PRESSED11, IDC_ENTERED_PRESSED12,
     IDC_ENTERED_PRESSED13, IDC_ENTERED_PRESSED14, IDC_ENTERED_PRESSED15},
};

constexpr TimingGridIds kReenteredGrid{
    {0, 0, IDC_REENTERED_INTERVAL2, IDC_REENTERED_INTERVAL3, IDC_REENTERED_INTERVAL4,
     IDC_REENTERED_INTERVAL5, IDC_REENTERED_INTERVAL6, IDC_REENTERED_INTERVAL7,
     IDC_REENTERED_INTERVAL8, IDC_REENTERED_INTERVAL9, IDC_REENTERED_INTERVAL10,
     IDC_REENTERED_INTERVAL11, IDC_REENTERED_INTERVAL12, IDC_REENTERED_INTERVAL13,
     IDC_REENTERED_INTERVAL14, IDC_REENTERED_INTERVAL15},
    {0, IDC_REENTERED_PRESSED1, IDC_REENTERED_PRESSED2, IDC_REENTERED_PRESSED3,
     IDC_REENTERED_PRESSED4, IDC_REENTERED_PRESSED5, IDC_REENTERED_PRESSED6, IDC_REENTERED_PRESSED7,
     IDC_REENTERED_PRESSED8, IDC_REENTERED_PRESSED9, IDC_REENTERED_PRESSED10,
     IDC_REENTERED_PRESSED11, IDC_REENTERED_PRESSED12, IDC_REENTERED_PRESSED13,
     IDC_REENTERED_PRESSED14, IDC_REENTERED_PRESSED15},
};

// The numbering the identifiers follow, checked when this header compiles. Each column counts
// up by one per key, with two deliberate breaks: key 15 of both Entered columns is numbered
// after the Entered Pressed column (interval 1035, pressed 1036), and the Re-entered Pressed
// column starts at 1065 for key 1 and runs 1051 to 1064 for keys 2 to 15. The template lists
// the grid in ascending identifier order, 1008 to 1065 without a gap.
namespace timing_grid_numbering {

constexpr int kFirst = 1008;
constexpr int kLast = 1065;
constexpr int kLabelCount = 58;

constexpr int enteredInterval(int key) { return key == 15 ? 1035 : 1006 + key; }
constexpr int enteredPressed(int key) { return key == 15 ? 1036 : 1020 + key; }
constexpr int reenteredInterval(int key) { return 1035 + key; }
constexpr int reenteredPressed(int key) { return key == 1 ? 1065 : 1049 + key; }

constexpr bool tableFollowsNumbering()
{
    if (kEnteredGrid.intervals[0] || kEnteredGrid.intervals[1] || kEnteredGrid.pressed[0] ||
        kReenteredGrid.intervals[0] || kReenteredGrid.intervals[1] || kReenteredGrid.pressed[0])
        return false;
    for (int key = 1; key <= typrova::kMaxKeys; ++key) {
        if (kEnteredGrid.pressed[key] != enteredPressed(key) ||
            kReenteredGrid.pressed[key] != reenteredPressed(key))
            return false;
        if (key >= 2 && (kEnteredGrid.intervals[key] != enteredInterval(key) ||
                         kReenteredGrid.intervals[key] != reenteredInterval(key)))
            return false;
    }
    return true;
}

// Every identifier from kFirst to kLast is exactly one label of the grid.
constexpr bool tableCoversRangeOnce()
{
    int seen[kLast - kFirst + 1] = {};
    for (const TimingGridIds* grid : {&kEnteredGrid, &kReenteredGrid}) {
        for (int key = 1; key <= typrova::kMaxKeys; ++key) {
            for (int id : {grid->pressed[key], key >= 2 ? grid->intervals[key] : 0}) {
                if (id == 0)
                    continue;
                if (id < kFirst || id > kLast)
                    return false;
                ++seen[id - kFirst];
            }
        }
    }
    for (int count : seen) {
        if (count != 1)
            return false;
    }
    return true;
}

static_assert(tableFollowsNumbering(), "a grid identifier strays from the grid's numbering");
static_assert(tableCoversRangeOnce() && kLast - kFirst + 1 == kLabelCount,
              "the grid's 58 labels must be 1008 to 1065, each once");

} // namespace timing_grid_numbering
