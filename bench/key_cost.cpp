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
#include <deque>
#include <string>
#include <vector>

namespace {

struct Samples {
    const char* name;
    std::vector<double> us;
};

int g_releases = 10000;
bool g_traceOld = false;
CTypingDlg* g_dialog = nullptr;
std::vector<Samples> g_results;
std::string g_failure;
LARGE_INTEGER g_frequency;

double elapsedUs(const LARGE_INTEGER& from, const LARGE_INTEGER& to)
{
    return static_cast<double>(to.QuadPart - from.QuadPart) * 1e6 /
           static_cast<double>(g_frequency.QuadPart);
}

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

FieldProbe* probeOf(HWND window)
{
    for (FieldProbe& probe : g_probes)
        if (probe.field == window)
            return &probe;
    return nullptr;
}

bool isKey(UINT message)
{
    return message == WM_KEYDOWN || message == WM_KEYUP;
}

LRESULT CALLBACK outerProbe(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    const FieldProbe* probe = probeOf(window);
    if (isKey(message))
        QueryPerformanceCounter(&g_key.arrival);
    const LRESULT result = CallWindowProcW(probe->outerNext, window, message, wParam, lParam);
    if (isKey(message))
        QueryPerformanceCounter(&g_key.done);
    return result;
}

LRESULT CALLBACK innerProbe(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    const FieldProbe* probe = probeOf(window);
    if (isKey(message))
        QueryPerformanceCounter(&g_key.editStart);
    const LRESULT result = CallWindowProcW(probe->editProc, window, message, wParam, lParam);
    if (isKey(message))
        QueryPerformanceCounter(&g_key.editEnd);
    return result;
}

void installOuterProbes()
{
    for (FieldProbe& probe : g_probes)
        probe.outerNext = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
            probe.field, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&outerProbe)));
}

void removeOuterProbes()
{
    for (FieldProbe& probe : g_probes)
        SetWindowLongPtrW(probe.field, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(probe.outerNext));
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
                probe.field, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&innerProbe)));
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
    removeOuterProbes();
    for (HWND control : {g_probes[0].field, g_probes[1].field, GetDlgItem(dialog, IDC_THRESHOLD)}) {
        if (on)
            SetWindowSubclass(control, passThrough, 1, 0);
        else
            RemoveWindowSubclass(control, passThrough, 1);
    }
    installOuterProbes();
}

struct KeyFigures {
    Samples pressToReading{"press_arrival_to_counter", {}};
    Samples pressEdit{"press_edit_own_processing", {}};
    Samples releaseToReading{"release_arrival_to_counter", {}};
    Samples releaseEdit{"release_edit_own_processing", {}};
    Samples releaseEditToReading{"release_edit_end_to_counter", {}};
    Samples pressEditToReading{"press_edit_end_to_counter", {}};
    Samples route{"keyup_route", {}};
    Samples paintLater{"paint_left_for_later", {}};
};

// Sends `count` Shift press/release pairs alternately to both fields and files the instants.
// Every tenth release also times the painting it left for the queue's idle time.
void timeKeys(KeyFigures& figures, HWND dialog, int count)
{
    auto add = [](Samples& s, const LARGE_INTEGER& a, const LARGE_INTEGER& b) { s.us.push_back(elapsedUs(a, b)); };
    for (int i = 0; i < count; ++i) {
        const HWND field = g_probes[i & 1].field;
        SendMessageA(field, WM_KEYDOWN, VK_SHIFT, kShiftDown);
        add(figures.pressToReading, g_key.arrival, g_key.reading);
        add(figures.pressEdit, g_key.editStart, g_key.editEnd);
        add(figures.pressEditToReading, g_key.editEnd, g_key.reading);
        SendMessageA(field, WM_KEYUP, VK_SHIFT, kShiftUp);
        add(figures.releaseToReading, g_key.arrival, g_key.reading);
        add(figures.releaseEdit, g_key.editStart, g_key.editEnd);
        add(figures.releaseEditToReading, g_key.editEnd, g_key.reading);
        add(figures.route, g_key.arrival, g_key.done);
        if (i % 10 == 0) {
            // The dialog's own WM_PAINT, which draws the labels' new texts (the children's
            // other painting, such as the edit control's, is not the program's).
            const LARGE_INTEGER before = now();
            RedrawWindow(dialog, nullptr, nullptr, RDW_UPDATENOW | RDW_NOCHILDREN);
            add(figures.paintLater, before, now());
        }
        UpdateWindow(dialog); // no painting left behind for the next key, untimed
    }
}

void keep(Samples&& samples, const std::string& suffix)
{
    static std::deque<std::string> names; // the Samples keep pointers into these
    names.push_back(std::string(samples.name) + suffix);
    samples.name = names.back().c_str();
    g_results.push_back(std::move(samples));
}

void keepAll(KeyFigures& f, const std::string& suffix)
{
    for (Samples* s : {&f.pressToReading, &f.pressEdit, &f.pressEditToReading, &f.releaseToReading,
                       &f.releaseEdit, &f.releaseEditToReading, &f.route, &f.paintLater})
        keep(std::move(*s), suffix);
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

// The calls of the route outside the core, each alone: the field length as the program reads
// it (one bounded GetWindowTextA) against GetWindowTextLengthA and a full copy (length, then
// text), the slider position, and one label written at once (drawing included).
void timeParts(HWND dialog, int count)
{
    const HWND field = g_probes[0].field;
    const HWND slider = GetDlgItem(dialog, IDC_THRESHOLD);
    const HWND label = GetDlgItem(dialog, kEnteredGrid.pressed[typrova::kMaxKeys]);
    Samples bounded{"field_length_bounded_read", {}}, length{"field_length_GetWindowTextLengthA", {}},
        full{"field_text_full_copy", {}}, position{"slider_TBM_GETPOS", {}}, write{"label_settext_drawn", {}};
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
        bounded.us.push_back(elapsedUs(a, b));
        length.us.push_back(elapsedUs(b, c));
        full.us.push_back(elapsedUs(c, d));
        position.us.push_back(elapsedUs(d, e));
        if (i % 10 == 0) {
            const LARGE_INTEGER before = now();
            SetWindowTextA(label, (i & 1) ? "12.34" : "43.21");
            write.us.push_back(elapsedUs(before, now()));
        }
    }
    if (sink == 0)
        std::puts("(no output)");
    for (Samples* s : {&bounded, &length, &full, &position, &write})
        g_results.push_back(std::move(*s));
}

bool prepare(HWND dialog)
{
    if (!g_probes[0].field || !g_probes[1].field) {
        g_failure = "the window has no password fields";
        return false;
    }
    installOuterProbes();
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

void finish(HWND dialog)
{
    removeOuterProbes();
    EndDialog(dialog, IDOK);
}

void CALLBACK measure(HWND, UINT, UINT_PTR timer, DWORD)
{
    KillTimer(nullptr, timer);
    const HWND dialog = g_dialog->GetSafeHwnd();
    if (!prepare(dialog)) {
        finish(dialog);
        return;
    }
    KeyFigures warmUp, plain, old;
    timeKeys(warmUp, dialog, 200);
    // Blocks of the two ways of subclassing, alternated so that load changes hit both.
    const int blocks = 10;
    const int perBlock = std::max(1, g_releases / blocks);
    for (int block = 0; block < blocks; ++block) {
        timeKeys(plain, dialog, perBlock);
        setOldSubclass(dialog, true);
        timeKeys(old, dialog, perBlock);
        setOldSubclass(dialog, false);
    }
    keepAll(plain, "");
    keepAll(old, "_setwindowsubclass");
    g_results.push_back(timeCore(g_releases));
    timeParts(dialog, std::max(1, g_releases / 2));
    finish(dialog);
}

void marker(const char* name)
{
    GlobalFindAtomA(name); // one server request whose name shows in a +server log
}

void CALLBACK trace(HWND, UINT, UINT_PTR timer, DWORD)
{
    KillTimer(nullptr, timer);
    const HWND dialog = g_dialog->GetSafeHwnd();
    if (!prepare(dialog)) {
        finish(dialog);
        return;
    }
    if (g_traceOld)
        setOldSubclass(dialog, true);
    UpdateWindow(dialog);
    for (int i = 0; i < g_releases; ++i) {
        const HWND field = g_probes[i & 1].field;
        SendMessageA(field, WM_KEYDOWN, VK_SHIFT, kShiftDown);
        marker("key_cost:release+");
        SendMessageA(field, WM_KEYUP, VK_SHIFT, kShiftUp);
        marker("key_cost:release-");
        UpdateWindow(dialog);
    }
    if (g_traceOld)
        setOldSubclass(dialog, false);
    finish(dialog);
}

} // namespace

int main(int argc, char** argv)
{
    TIMERPROC run = measure;
    if (argc > 2 && std::string(argv[1]) == "--trace") {
        run = trace;
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

    for (const Samples& s : g_results) {
        if (s.us.empty())
            continue;
        std::printf("%s", s.name);
        for (double us : s.us)
            std::printf(" %.3f", us);
        std::printf("\n");
    }
    if (!g_failure.empty() || (run == measure && g_results.empty())) {
        std::fprintf(stderr, "key_cost: %s\n",
                     g_failure.empty() ? "the measurement did not run" : g_failure.c_str());
        return 1;
    }
    return 0;
}
