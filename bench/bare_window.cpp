// Reference for the accuracy bench: the smallest Win32 window that times keys (no dialog
// manager, no edit control). Its window procedure reads the performance counter first thing
// for every WM_KEYDOWN and WM_KEYUP, so whatever the bench measures beyond the injected times
// is Wine's and the X server's, not a program's.
//
// Usage: bare_window
// Releasing Escape (the bench's end marker, not recorded) closes the window; then one line per
// key message goes to the standard output: "<counter ms> <down|up> <virtual-key code>".
#include <windows.h>

#include <cstdio>
#include <vector>

namespace {

struct Record {
    LONGLONG ticks;
    bool down;
    WPARAM key;
};

std::vector<Record> g_records;

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_KEYDOWN || message == WM_KEYUP) {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        if (wParam == VK_ESCAPE) {
            if (message == WM_KEYUP)
                DestroyWindow(window);
        } else {
            g_records.push_back({now.QuadPart, message == WM_KEYDOWN, wParam});
        }
        return 0;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

int main()
{
    g_records.reserve(1 << 16); // no allocation while keys arrive
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)); // IDC_ARROW
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = "bare_window";
    if (!RegisterClassA(&windowClass) ||
        !CreateWindowExA(0, "bare_window", "Bare key window", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                         0, 0, 320, 160, nullptr, nullptr, instance, nullptr))
        return 1;
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    for (const Record& r : g_records)
        std::printf("%.4f %s %u\n",
                    static_cast<double>(r.ticks) * 1000.0 / static_cast<double>(frequency.QuadPart),
                    r.down ? "down" : "up", static_cast<unsigned>(r.key));
    return std::fflush(stdout) == 0 ? 0 : 1;
}
