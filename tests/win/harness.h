// Test harness for the Windows-side tests: runs a dialog modally on the test's thread while a
// driver thread pokes it through real window messages, and offers a fake tick source and a
// keyboard that sends key messages in the order a real keyboard produces them.
#pragma once

#include "timing.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class CDialog;

namespace harness {

// Runs `dialog` modally on this thread and `driver` on a second thread once the dialog's
// window (top-level window of this thread with `caption`) is visible. After the driver
// returns the dialog is closed if it is still open. Returns the DoModal result.
INT_PTR runModal(CDialog& dialog, const char* caption, const std::function<void(HWND)>& driver);

// A visible top-level window with `caption` owned by thread `threadId`, waiting up to
// `timeoutMs`; nullptr if none appears.
HWND waitForWindow(DWORD threadId, const char* caption, int timeoutMs = 5000);
// Waits until `window` no longer exists.
bool waitForClose(HWND window, int timeoutMs = 5000);

std::string text(HWND window);
std::string itemText(HWND dialog, int id);
// Polls until control `id` reads `expected`; returns the last text read.
std::string waitForItemText(HWND dialog, int id, const std::string& expected, int timeoutMs = 3000);
// Texts of all direct children in creation order.
std::vector<std::string> childTexts(HWND dialog);

// Counter with a frequency of 1 MHz whose reading the test sets, in milliseconds.
class FakeTicks final : public typrova::TickSource {
public:
    std::int64_t frequency() const override { return 1'000'000; }
    std::int64_t now() const override { return m_now.load(); }
    void setMs(double ms) { m_now.store(static_cast<std::int64_t>(ms * 1000.0 + 0.5)); }

private:
    std::atomic<std::int64_t> m_now{0};
};

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
