// The fake clock and the key messages of a real keyboard, shared by the Windows-side tests and
// the key-cost bench (no test framework here).
#pragma once

#include "timing.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

namespace harness {

// Counter with a frequency of 1 MHz whose reading the test sets, in milliseconds.
class FakeTicks final : public typrova::TickSource {
public:
    std::int64_t frequency() const override { return 1'000'000; }
    std::int64_t now() const override { return m_now.load(); }
    void setMs(double ms) { m_now.store(static_cast<std::int64_t>(ms * 1000.0 + 0.5)); }

private:
    std::atomic<std::int64_t> m_now{0};
};

// lParam of a key message as the keyboard delivers it: repeat count 1, the key's scan code,
// and the previous-state and transition bits of a repeat or a release.
LPARAM keyData(UINT key, bool release, bool repeat);

// Sends key messages to a field the way the keyboard and TranslateMessage deliver them:
// WM_KEYDOWN, then WM_CHAR for a printable key, and WM_KEYUP; each at a set clock time.
class Keyboard {
public:
    explicit Keyboard(FakeTicks& ticks) : m_ticks(ticks) {}
    void down(HWND field, UINT key, double ms, char typed = 0, bool repeat = false);
    void up(HWND field, UINT key, double ms);
    // Types `text` (letters and digits) with a fixed hold and pause, starting at `startMs`;
    // returns the time of the last release.
    double type(HWND field, const std::string& text, double startMs, double holdMs = 80,
                double pauseMs = 120);

private:
    FakeTicks& m_ticks;
};

} // namespace harness
