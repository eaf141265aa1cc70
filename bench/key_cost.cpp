// Cost of a key in the main window: opens the real CTypingDlg in-process and, on its UI thread
// inside the modal loop, sends Shift presses and releases to both fields (15 characters each,
// so every release stores, rewrites its labels and evaluates). Probes around the fields'
// procedures and a recording counter split each key into: arrival in the field's window
// procedure, the edit control's own processing, the counter reading, and the return. The same
// keys are also timed with a do-nothing SetWindowSubclass on the fields and the slider (how
// controls were subclassed before), side by side in one run. Also times the painting a release
// leaves for later, the timing core alone, and the other calls of the route.
//
// Usage: key_cost [releases]   (default 10000). Prints one line per measure, its name and then
// every sample in microseconds (bench/bench.py summarises them), and exits 0; exits 1 when the
// keys did not reach the window.
//        key_cost --trace <releases> [old]   sends releases, each between two marker requests
// (GlobalFindAtomA "key_cost:release+" / "key_cost:release-"), for counting the Wine server
// requests of one release in a WINEDEBUG=+server log; with "old", through the do-nothing
// SetWindowSubclass as well.
#include "app.h"
#include "keyboard.h"
#include "perf_counter.h"
#include "resource.h"
#include "timing.h"
#include "timing_grid.h"
#include "typing_dlg.h"

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

int g_releases = 10000;
bool g_trace = false;    // --trace: count server requests instead of timing
bool g_traceOld = false;
CTypingDlg* g_dialog = nullptr;
std::map<std::string, std::vector<double>> g_results; // measure -> samples in microseconds
std::string g_failure;
LARGE_INTEGER g_frequency;

LARGE_INTEGER now()
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t;
}

std::string itemText(HWND dialog, int id)
{
    char text[64] = {};
    GetDlgItemTextA(dialog, id, text, static_cast<int>(sizeof text));
    return text;
}

// lParam of a real Shift press / release, worked out once: the lookup of the scan code is
// not part of what is timed or traced.
const LPARAM kShiftDown = harness::keyData(VK_SHIFT, false, false);
const LPARAM kShiftUp = harness::keyData(VK_SHIFT, true, false);

// The instants of the key being timed.
struct KeyInstants {
    LARGE_INTEGER arrival{}, editStart{}, editEnd{}, reading{}, done{};
};
KeyInstants g_key;

// The performance counter, noting when the program reads it.
class RecordingCounter final : public typrova::TickSource {
public:
    std::int64_t frequency() const override { return m_counter.frequency(); }
    std::int64_t now() const override
    {
        QueryPerformanceCounter(&g_key.reading);
        return g_key.reading.QuadPart;
    }

private:
    PerformanceCounter m_counter;
};

// Probes around each field: the outer one is the first procedure a key message reaches, the
// inner one wraps the edit control's own procedure.
struct FieldProbe {
    HWND field = nullptr;
    WNDPROC outerNext = nullptr; // what the outer probe calls (the program's procedure)
    WNDPROC editProc = nullptr;  // the edit control's own procedure
};
FieldProbe g_probes[2];

// Notes the instants `before` and `after` around the procedure `next` of the field for key
// messages; the outer probe and the inner one differ only in these.
template <WNDPROC FieldProbe::*next, LARGE_INTEGER KeyInstants::*before,
          LARGE_INTEGER KeyInstants::*after>
LRESULT CALLBACK probe(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    const FieldProbe& own = g_probes[window == g_probes[0].field ? 0 : 1];
    const bool key = message == WM_KEYDOWN || message == WM_KEYUP;
    if (key)
        QueryPerformanceCounter(&(g_key.*before));
    const LRESULT result = CallWindowProcW(own.*next, window, message, wParam, lParam);
    if (key)
        QueryPerformanceCounter(&(g_key.*after));
    return result;
}
constexpr WNDPROC outerProbe =
    probe<&FieldProbe::outerNext, &KeyInstants::arrival, &KeyInstants::done>;
constexpr WNDPROC innerProbe =
    probe<&FieldProbe::editProc, &KeyInstants::editStart, &KeyInstants::editEnd>;

// Puts the outer probes over the fields' procedures, or takes them off.
void setOuterProbes(bool on)
{
    for (FieldProbe& probe : g_probes) {
        const WNDPROC procedure = on ? outerProbe : probe.outerNext;
        const LONG_PTR previous =
            SetWindowLongPtrW(probe.field, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(procedure));
        if (on)
            probe.outerNext = reinterpret_cast<WNDPROC>(previous);
    }
}

// The main window with the inner probes slipped under the fields before it binds them.
class ProbedDialog final : public CTypingDlg {
public:
    explicit ProbedDialog(const typrova::TickSource& ticks) : CTypingDlg(ticks, nullptr) {}

protected:
    void DoDataExchange(CDataExchange& exchange) override
    {
        const int ids[2] = {IDC_ENTERED, IDC_REENTERED};
        for (int i = 0; i < 2; ++i) {
            FieldProbe& probe = g_probes[i];
            probe.field = exchange.control(ids[i]);
            probe.editProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
                probe.field, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(innerProbe)));
        }
        CTypingDlg::DoDataExchange(exchange);
    }
};

// A do-nothing comctl32 subclass, as the controls had before.
LRESULT CALLBACK passThrough(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                             DWORD_PTR)
{
    return DefSubclassProc(window, message, wParam, lParam);
}

// Adds (or removes) the do-nothing SetWindowSubclass under the outer probes.
void setOldSubclass(HWND dialog, bool on)
{
    setOuterProbes(false);
    for (HWND control : {g_probes[0].field, g_probes[1].field, GetDlgItem(dialog, IDC_THRESHOLD)}) {
        if (on)
            SetWindowSubclass(control, passThrough, 1, 0);
        else
            RemoveWindowSubclass(control, passThrough, 1);
    }
    setOuterProbes(true);
}

// Files the time from `from` to `to`, in microseconds, under the measure `name`.
void add(const std::string& name, const LARGE_INTEGER& from, const LARGE_INTEGER& to)
{
    g_results[name].push_back(static_cast<double>(to.QuadPart - from.QuadPart) * 1e6 /
                              static_cast<double>(g_frequency.QuadPart));
}

// Sends `count` Shift press/release pairs alternately to both fields and files the instants
// under their measures' names with `suffix`. Every tenth release also times the painting it
// left for the queue's idle time.
void timeKeys(HWND dialog, int count, const std::string& suffix)
{
    for (int i = 0; i < count; ++i) {
        const HWND field = g_probes[i & 1].field;
        SendMessageA(field, WM_KEYDOWN, VK_SHIFT, kShiftDown);
        add("press_arrival_to_counter" + suffix, g_key.arrival, g_key.reading);
        add("press_edit_own_processing" + suffix, g_key.editStart, g_key.editEnd);
        add("press_edit_end_to_counter" + suffix, g_key.editEnd, g_key.reading);
        SendMessageA(field, WM_KEYUP, VK_SHIFT, kShiftUp);
        add("release_arrival_to_counter" + suffix, g_key.arrival, g_key.reading);
        add("release_edit_own_processing" + suffix, g_key.editStart, g_key.editEnd);
        add("release_edit_end_to_counter" + suffix, g_key.editEnd, g_key.reading);
        add("keyup_route" + suffix, g_key.arrival, g_key.done);
        if (i % 10 == 0) {
            // The dialog's own WM_PAINT, which draws the labels' new texts (the children's
            // other painting, such as the edit control's, is not the program's).
            const LARGE_INTEGER before = now();
            RedrawWindow(dialog, nullptr, nullptr, RDW_UPDATENOW | RDW_NOCHILDREN);
            add("paint_left_for_later" + suffix, before, now());
        }
        UpdateWindow(dialog); // no painting left behind for the next key, untimed
    }
}

// The timing core of one release on the same data: the release's stamp (counter read
// included), filing the gaps under position 15, and scoring two 15-key entries.
void timeCore(int count)
{
    const PerformanceCounter counter;
    typrova::TimingState clock;
    clock.start(counter.frequency(), counter.now());
    typrova::TimingSlots entered, reentered;
    const std::string text(typrova::kMaxKeys, 'a');
    std::size_t sink = 0;
    for (int i = 0; i < count; ++i) {
        clock.stamp(counter.now()); // the press, not timed (as in the window bench)
        const LARGE_INTEGER before = now();
        clock.stamp(counter.now());
        clock.recordRelease((i & 1) ? reentered : entered, text.size());
        const typrova::Evaluation result = typrova::evaluate(text, text, entered, reentered, 5000);
        add("core_stamp_record_evaluate", before, now());
        sink += result.score.size() + result.verdict.size();
    }
    // The 29 numbers of one table, formatted as the labels show them.
    for (int i = 0; i < count; ++i) {
        const LARGE_INTEGER before = now();
        for (int key = 1; key <= typrova::kMaxKeys; ++key) {
            sink += typrova::formatNumber(entered.pressed[static_cast<std::size_t>(key)]).size();
            if (key >= 2)
                sink += typrova::formatNumber(entered.intervals[static_cast<std::size_t>(key)]).size();
        }
        add("core_format_29_numbers", before, now());
    }
    if (sink == 0)
        std::puts("(no output)"); // keeps the loops from being optimised away
}

// The calls of the route outside the core, each alone: the field length as the program reads
// it (one bounded GetWindowTextA) against GetWindowTextLengthA and a full copy (length, then
// text), the slider position, and one label written at once (drawing included).
void timeParts(HWND dialog, int count)
{
    const HWND field = g_probes[0].field;
    const HWND slider = GetDlgItem(dialog, IDC_THRESHOLD);
    const HWND label = GetDlgItem(dialog, kEnteredGrid.pressed[typrova::kMaxKeys]);
    std::size_t sink = 0;
    for (int i = 0; i < count; ++i) {
        LARGE_INTEGER a = now();
        sink += SecretText(field, 2 * typrova::kMaxKeys + 2).size();
        LARGE_INTEGER b = now();
        sink += static_cast<std::size_t>(GetWindowTextLengthA(field));
        LARGE_INTEGER c = now();
        sink += SecretText(field).size();
        LARGE_INTEGER d = now();
        sink += static_cast<std::size_t>(SendMessageA(slider, TBM_GETPOS, 0, 0));
        LARGE_INTEGER e = now();
        add("field_length_bounded_read", a, b);
        add("field_length_GetWindowTextLengthA", b, c);
        add("field_text_full_copy", c, d);
        add("slider_TBM_GETPOS", d, e);
        if (i % 10 == 0) {
            const LARGE_INTEGER before = now();
            SetWindowTextA(label, (i & 1) ? "12.34" : "43.21");
            add("label_settext_drawn", before, now());
        }
    }
    if (sink == 0)
        std::puts("(no output)");
}

bool prepare(HWND dialog)
{
    if (!g_probes[0].field || !g_probes[1].field) {
        g_failure = "the window has no password fields";
        return false;
    }
    setOuterProbes(true);
    const std::string text(typrova::kMaxKeys, 'a');
    for (const FieldProbe& probe : g_probes)
        SetWindowTextA(probe.field, text.c_str());
    if (itemText(dialog, IDC_VERDICT) != typrova::kVerdictEnterText) {
        g_failure = "unexpected verdict before the first release";
        return false;
    }
    // One release held for about 20 ms must show up at position 15 and end "Enter text": proof
    // that the messages below take the program's whole route.
    SendMessageA(g_probes[0].field, WM_KEYDOWN, VK_SHIFT, kShiftDown);
    Sleep(20);
    SendMessageA(g_probes[0].field, WM_KEYUP, VK_SHIFT, kShiftUp);
    const double held = std::atof(itemText(dialog, kEnteredGrid.pressed[typrova::kMaxKeys]).c_str());
    if (held < 15.0 || itemText(dialog, IDC_VERDICT) == typrova::kVerdictEnterText) {
        g_failure = "key releases sent to the fields did not reach the timing route";
        return false;
    }
    return true;
}

void measure(HWND dialog)
{
    timeKeys(dialog, 200, "");
    g_results.clear(); // the warm-up is not reported
    // Blocks of the two ways of subclassing, alternated so that load changes hit both.
    const int blocks = 10;
    const int perBlock = std::max(1, g_releases / blocks);
    for (int block = 0; block < blocks; ++block) {
        timeKeys(dialog, perBlock, "");
        setOldSubclass(dialog, true);
        timeKeys(dialog, perBlock, "_setwindowsubclass");
        setOldSubclass(dialog, false);
    }
    timeCore(g_releases);
    timeParts(dialog, std::max(1, g_releases / 2));
}

void trace(HWND dialog)
{
    if (g_traceOld)
        setOldSubclass(dialog, true);
    UpdateWindow(dialog);
    // The markers: one server request each, whose name shows in a +server log.
    for (int i = 0; i < g_releases; ++i) {
        const HWND field = g_probes[i & 1].field;
        SendMessageA(field, WM_KEYDOWN, VK_SHIFT, kShiftDown);
        GlobalFindAtomA("key_cost:release+");
        SendMessageA(field, WM_KEYUP, VK_SHIFT, kShiftUp);
        GlobalFindAtomA("key_cost:release-");
        UpdateWindow(dialog);
    }
    if (g_traceOld)
        setOldSubclass(dialog, false);
}

// Runs on the UI thread inside the dialog's modal loop, then ends the dialog.
void CALLBACK run(HWND, UINT, UINT_PTR timer, DWORD)
{
    KillTimer(nullptr, timer);
    const HWND dialog = g_dialog->GetSafeHwnd();
    if (prepare(dialog))
        g_trace ? trace(dialog) : measure(dialog);
    setOuterProbes(false);
    EndDialog(dialog, IDOK);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 2 && std::string(argv[1]) == "--trace") {
        g_trace = true;
        g_releases = std::max(1, std::atoi(argv[2]));
        g_traceOld = argc > 3 && std::string(argv[3]) == "old";
    } else if (argc > 1) {
        g_releases = std::max(1, std::atoi(argv[1]));
    }
    QueryPerformanceFrequency(&g_frequency);
    CWinApp* app = AfxGetApp();
    if (!app || !AfxInitApplication(*app, GetModuleHandleA(nullptr)))
        return 2;

    const RecordingCounter counter;
    ProbedDialog dialog(counter);
    g_dialog = &dialog;
    app->m_pMainWnd = &dialog;
    // A thread timer: the dialog's own modal loop dispatches it on this (the UI) thread.
    SetTimer(nullptr, 0, 100, run);
    dialog.DoModal();
    app->m_pMainWnd = nullptr;

    for (const auto& [name, samples] : g_results) {
        std::printf("%s", name.c_str());
        for (double us : samples)
            std::printf(" %.3f", us);
        std::printf("\n");
    }
    if (!g_failure.empty() || (!g_trace && g_results.empty())) {
        std::fprintf(stderr, "key_cost: %s\n",
                     g_failure.empty() ? "the measurement did not run" : g_failure.c_str());
        return 1;
    }
    return 0;
}
