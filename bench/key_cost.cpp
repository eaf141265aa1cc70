// Cost of one key release in the main window: opens the real CTypingDlg in-process and, on its
// UI thread inside the modal loop, times SendMessage(WM_KEYUP) to a field holding 15 characters
// (stamp, store, 29 labels rewritten, evaluation, result shown). Also times the pure timing
// calls on the same data, to tell how much of a release is spent outside the timing core.
//
// Usage: key_cost [releases]   (default 10000). Prints "name n= median= p99= max=" lines in
// microseconds and exits 0; exits 1 when the releases did not reach the window.
#include "app.h"
#include "perf_counter.h"
#include "resource.h"
#include "timing.h"
#include "timing_grid.h"
#include "typing_dlg.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Samples {
    const char* name;
    std::vector<double> us;
};

int g_releases = 10000;
CTypingDlg* g_dialog = nullptr;
std::vector<Samples> g_results;
std::string g_failure;
LARGE_INTEGER g_frequency;

double elapsedUs(const LARGE_INTEGER& from, const LARGE_INTEGER& to)
{
    return static_cast<double>(to.QuadPart - from.QuadPart) * 1e6 /
           static_cast<double>(g_frequency.QuadPart);
}

std::string itemText(HWND dialog, int id)
{
    char text[64] = {};
    GetDlgItemTextA(dialog, id, text, static_cast<int>(sizeof text));
    return text;
}

// lParam of a real Shift press / release (repeat count 1, scan code 0x2A, release bits).
constexpr LPARAM kShiftDown = 0x002A0001;
constexpr LPARAM kShiftUp = static_cast<LPARAM>(0xC02A0001u);

// Sends `count` Shift press/release pairs alternately to both fields; times each release.
// With `repaint`, the time also covers painting the labels that the release changed.
Samples timeReleases(const char* name, HWND dialog, const HWND (&fields)[2], int count,
                     bool repaint)
{
    Samples samples{name, {}};
    samples.us.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const HWND field = fields[i & 1];
        SendMessageA(field, WM_KEYDOWN, VK_SHIFT, kShiftDown);
        LARGE_INTEGER before, after;
        QueryPerformanceCounter(&before);
        SendMessageA(field, WM_KEYUP, VK_SHIFT, kShiftUp);
        if (repaint)
            UpdateWindow(dialog);
        QueryPerformanceCounter(&after);
        samples.us.push_back(elapsedUs(before, after));
    }
    return samples;
}

// The timing core of one release on the same data: the release's stamp (counter read
// included), filing the gaps under position 15, and scoring two 15-key entries.
Samples timeCore(int count)
{
    const PerformanceCounter counter;
    typrova::TimingState clock;
    clock.start(counter.frequency(), counter.now());
    typrova::TimingSlots entered, reentered;
    const std::string text(typrova::kMaxKeys, 'a');
    Samples samples{"core_stamp_record_evaluate", {}};
    samples.us.reserve(static_cast<std::size_t>(count));
    std::size_t sink = 0;
    for (int i = 0; i < count; ++i) {
        clock.stamp(counter.now()); // the press, not timed (as in the window bench)
        LARGE_INTEGER before, after;
        QueryPerformanceCounter(&before);
        clock.stamp(counter.now());
        clock.recordRelease((i & 1) ? reentered : entered, text.size());
        const typrova::Evaluation result = typrova::evaluate(text, text, entered, reentered, 5000);
        QueryPerformanceCounter(&after);
        sink += result.score.size() + result.verdict.size();
        samples.us.push_back(elapsedUs(before, after));
    }
    // The 29 numbers of one table, formatted as the labels show them.
    Samples format{"core_format_29_numbers", {}};
    for (int i = 0; i < count; ++i) {
        LARGE_INTEGER before, after;
        QueryPerformanceCounter(&before);
        for (int key = 1; key <= typrova::kMaxKeys; ++key) {
            sink += typrova::formatNumber(entered.pressed[static_cast<std::size_t>(key)]).size();
            if (key >= 2)
                sink += typrova::formatNumber(entered.intervals[static_cast<std::size_t>(key)]).size();
        }
        QueryPerformanceCounter(&after);
        format.us.push_back(elapsedUs(before, after));
    }
    if (sink == 0)
        std::puts("(no output)"); // keeps the loops from being optimised away
    g_results.push_back(std::move(format));
    return samples;
}

// Where the release's time goes outside the core: the 29 label texts of one table written
// the way the window writes them (each a changed value, so every label redraws).
Samples timeLabels(HWND dialog, int count)
{
    Samples samples{"labels_29_settext", {}};
    for (int i = 0; i < count; ++i) {
        const char* text = (i & 1) ? "12.34" : "43.21";
        LARGE_INTEGER before, after;
        QueryPerformanceCounter(&before);
        for (int key = 1; key <= typrova::kMaxKeys; ++key) {
            SetDlgItemTextA(dialog, kEnteredGrid.pressed[static_cast<std::size_t>(key)], text);
            if (key >= 2)
                SetDlgItemTextA(dialog, kEnteredGrid.intervals[static_cast<std::size_t>(key)], text);
        }
        QueryPerformanceCounter(&after);
        samples.us.push_back(elapsedUs(before, after));
    }
    return samples;
}

// The three reads of field texts a release makes (its length, then both texts to evaluate).
Samples timeFieldReads(const HWND (&fields)[2], int count)
{
    Samples samples{"field_text_reads_3", {}};
    char text[64];
    for (int i = 0; i < count; ++i) {
        LARGE_INTEGER before, after;
        QueryPerformanceCounter(&before);
        for (HWND field : {fields[i & 1], fields[0], fields[1]}) {
            const int length = GetWindowTextLengthA(field);
            GetWindowTextA(field, text, std::min(length + 1, static_cast<int>(sizeof text)));
        }
        QueryPerformanceCounter(&after);
        samples.us.push_back(elapsedUs(before, after));
    }
    return samples;
}

void CALLBACK measure(HWND, UINT, UINT_PTR timer, DWORD)
{
    KillTimer(nullptr, timer);
    const HWND dialog = g_dialog->GetSafeHwnd();
    const HWND fields[2] = {GetDlgItem(dialog, IDC_ENTERED), GetDlgItem(dialog, IDC_REENTERED)};
    if (!fields[0] || !fields[1]) {
        g_failure = "the window has no password fields";
        EndDialog(dialog, IDCANCEL);
        return;
    }
    const std::string text(typrova::kMaxKeys, 'a');
    for (HWND field : fields)
        SetWindowTextA(field, text.c_str());
    if (itemText(dialog, IDC_VERDICT) != typrova::kVerdictEnterText)
        g_failure = "unexpected verdict before the first release";

    // One release held for about 20 ms must show up at position 15 and end "Enter text": proof
    // that the messages below take the program's whole route.
    SendMessageA(fields[0], WM_KEYDOWN, VK_SHIFT, kShiftDown);
    Sleep(20);
    SendMessageA(fields[0], WM_KEYUP, VK_SHIFT, kShiftUp);
    const double held = std::atof(itemText(dialog, kEnteredGrid.pressed[typrova::kMaxKeys]).c_str());
    if (held < 15.0 || itemText(dialog, IDC_VERDICT) == typrova::kVerdictEnterText)
        g_failure = "key releases sent to the fields did not reach the timing route";

    timeReleases("warm_up", dialog, fields, 200, false);

    g_results.push_back(timeReleases("keyup_route", dialog, fields, g_releases, false));
    g_results.push_back(timeReleases("keyup_route_and_paint", dialog, fields,
                                     std::max(1, g_releases / 10), true));
    g_results.push_back(timeCore(g_releases));
    g_results.push_back(timeLabels(dialog, std::max(1, g_releases / 10)));
    g_results.push_back(timeFieldReads(fields, g_releases));
    EndDialog(dialog, IDOK);
}

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1)
        g_releases = std::max(1, std::atoi(argv[1]));
    QueryPerformanceFrequency(&g_frequency);
    CWinApp* app = AfxGetApp();
    if (!app || !AfxInitApplication(*app, GetModuleHandleA(nullptr)))
        return 2;

    CTypingDlg dialog;
    g_dialog = &dialog;
    app->m_pMainWnd = &dialog;
    // A thread timer: the dialog's own modal loop dispatches it on this (the UI) thread.
    SetTimer(nullptr, 0, 100, measure);
    dialog.DoModal();
    app->m_pMainWnd = nullptr;

    for (const Samples& s : g_results) {
        if (s.us.empty())
            continue;
        std::printf("%s n=%zu median=%.3f p99=%.3f max=%.3f\n", s.name, s.us.size(),
                    percentile(s.us, 0.5), percentile(s.us, 0.99),
                    *std::max_element(s.us.begin(), s.us.end()));
    }
    if (!g_failure.empty() || g_results.empty()) {
        std::fprintf(stderr, "key_cost: %s\n",
                     g_failure.empty() ? "the measurement did not run" : g_failure.c_str());
        return 1;
    }
    return 0;
}
