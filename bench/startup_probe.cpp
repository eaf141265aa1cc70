// Start-up timer: starts programs one after the other and measures, with the performance
// counter, the time from CreateProcess until each one's window is visible, answers messages and
// shows its opening texts. Running as one process under Wine, it keeps its own start-up cost
// out of the figures. Runs alternate between the targets so that drifts in machine load hit all.
//
// Usage: startup_probe <runs> <target>...
//   target: "<exe>|<caption>[|<control id>=<text>...]"
// Prints "startup <index> <ms> <ms> ..." per target (one figure per run) and exits 0; exits 1
// when a window did not reach its state within 30 s.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Target {
    std::string exe;
    std::string caption;
    std::vector<std::pair<int, std::string>> texts; // control id, expected text
    std::vector<double> ms;
};

// "<exe>|<caption>[|<control id>=<text>...]"
bool parseTarget(const std::string& argument, Target& target)
{
    std::istringstream parts(argument);
    std::getline(parts, target.exe, '|');
    std::getline(parts, target.caption, '|');
    for (std::string part; std::getline(parts, part, '|');) {
        const std::size_t eq = part.find('=');
        if (eq == std::string::npos || eq == 0)
            return false;
        target.texts.emplace_back(std::atoi(part.substr(0, eq).c_str()), part.substr(eq + 1));
    }
    return !target.exe.empty() && !target.caption.empty();
}

// True once the window is visible, its thread answers, and every listed control shows its text.
bool reachedState(HWND window, const Target& target)
{
    if (!IsWindowVisible(window))
        return false;
    DWORD_PTR ignored = 0;
    if (!SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &ignored))
        return false;
    for (const auto& [id, expected] : target.texts) {
        const HWND control = GetDlgItem(window, id);
        char text[256] = {};
        DWORD_PTR length = 0;
        if (!control ||
            !SendMessageTimeoutA(control, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                                 SMTO_ABORTIFHUNG, 1000, &length) ||
            expected != text)
            return false;
    }
    return true;
}

// One start: returns the milliseconds to the opening state, or a negative value on failure.
double startOnce(const Target& target, const LARGE_INTEGER& frequency)
{
    std::string commandLine = "\"" + target.exe + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    LARGE_INTEGER begin, now;
    QueryPerformanceCounter(&begin);
    if (!CreateProcessA(target.exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process)) {
        std::fprintf(stderr, "startup_probe: cannot start %s (error %lu)\n", target.exe.c_str(),
                     GetLastError());
        return -1.0;
    }
    double ms = -1.0;
    HWND window = nullptr;
    for (;;) {
        window = FindWindowA("#32770", target.caption.c_str());
        DWORD owner = 0;
        if (window)
            GetWindowThreadProcessId(window, &owner);
        const bool ready = window && owner == process.dwProcessId && reachedState(window, target);
        QueryPerformanceCounter(&now);
        const double elapsed = static_cast<double>(now.QuadPart - begin.QuadPart) * 1e3 /
                               static_cast<double>(frequency.QuadPart);
        if (ready) {
            ms = elapsed;
            break;
        }
        if (elapsed > 30000.0 || WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0) {
            std::fprintf(stderr, "startup_probe: %s did not reach its opening state\n",
                         target.exe.c_str());
            break;
        }
        Sleep(1); // leaves the CPU to the starting program between looks
    }
    if (window)
        PostMessageA(window, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process.hProcess, 15000) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 5000);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return ms;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: startup_probe <runs> <exe|caption[|id=text...]>...\n");
        return 2;
    }
    const int runs = std::atoi(argv[1]);
    std::vector<Target> targets(static_cast<std::size_t>(argc - 2));
    for (int i = 2; i < argc; ++i)
        if (runs < 1 || !parseTarget(argv[i], targets[static_cast<std::size_t>(i - 2)])) {
            std::fprintf(stderr, "startup_probe: bad argument %s\n", argv[i]);
            return 2;
        }
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    // Run -1 is an unmeasured start of each, which warms the file cache and the Wine server.
    for (int run = -1; run < runs; ++run)
        for (Target& target : targets) {
            const double ms = startOnce(target, frequency);
            if (ms < 0)
                return 1;
            if (run >= 0)
                target.ms.push_back(ms);
            Sleep(200); // let the closed program's processes settle
        }
    for (std::size_t i = 0; i < targets.size(); ++i) {
        std::printf("startup %zu", i);
        for (double ms : targets[i].ms)
            std::printf(" %.2f", ms);
        std::printf("\n");
    }
    return 0;
}
