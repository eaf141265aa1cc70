// Console helper that reads and pokes another program's top-level window from outside (same
// Wine prefix or same Windows desktop), for end-to-end tests: find it, read its controls'
// texts and rectangles, click buttons, close it.
//
//   winprobe wait  <caption> <timeout_ms>   wait for a visible window; prints hwnd and pid
//   winprobe text  <caption> <id> [<id>...] one text per line
//   winprobe focus <caption>                id of the control holding the keyboard focus
//   winprobe rect  <caption> [<id>]         screen rectangle: left top right bottom
//   winprobe click <caption> <id>           posts BM_CLICK to the control
//   winprobe close <caption>                posts WM_CLOSE to the window
//   winprobe syscommand <caption> <command> posts WM_SYSCOMMAND (e.g. 0x10, the About item)
//   winprobe send  <caption> <id> <message> sends a message with no parameters to the
//                                           control; prints the result
//   winprobe clip  <count>                  puts <count> characters (a..z repeated) on the
//                                           clipboard as text
//
// Exit codes: 0 ok, 1 window or control not found (or timeout), 2 bad usage.
// Texts are escaped (\t, \n, \r, \\, \xNN for other control bytes) so that one text is one
// line. Every cross-process message uses SendMessageTimeoutA: a hung program cannot hang this.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr UINT kMessageTimeoutMs = 2000;
constexpr int kExitOk = 0;
constexpr int kExitNotFound = 1;
constexpr int kExitUsage = 2;

// The first visible top-level window with this caption (compared without regard to case, as
// FindWindowEx does). FindWindowEx reads captions without sending a message, so a hung window
// cannot slow the search down.
HWND findWindow(const char* caption) {
    HWND hwnd = nullptr;
    while ((hwnd = FindWindowExA(nullptr, hwnd, nullptr, caption)) && !IsWindowVisible(hwnd)) {
    }
    return hwnd;
}

// Reads a window's text with a bounded wait. Returns false when the window does not answer.
bool readText(HWND hwnd, std::string& out) {
    DWORD_PTR len = 0;
    if (!SendMessageTimeoutA(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &len))
        return false;
    std::vector<char> buf(static_cast<size_t>(len) + 1, '\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutA(hwnd, WM_GETTEXT, static_cast<WPARAM>(buf.size()),
                             reinterpret_cast<LPARAM>(buf.data()), SMTO_ABORTIFHUNG, kMessageTimeoutMs,
                             &copied))
        return false;
    out.assign(buf.data(), copied < buf.size() ? static_cast<size_t>(copied) : buf.size() - 1);
    return true;
}

std::string escape(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        switch (c) {
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\\': out += "\\\\"; break;
        default:
            if (c < 0x20 || c == 0x7f) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02x", c);
                out += hex;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out;
}

bool parseInt(const char* s, long lo, long hi, long& out) {
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(s, &end, 0);
    if (errno != 0 || end == s || *end != '\0' || v < lo || v > hi)
        return false;
    out = v;
    return true;
}

HWND requireChild(HWND top, const char* idText) {
    long id = 0;
    if (!parseInt(idText, -65536, 65535, id)) {
        std::fprintf(stderr, "winprobe: bad control id '%s'\n", idText);
        return nullptr;
    }
    HWND c = GetDlgItem(top, static_cast<int>(id));
    if (!c)
        std::fprintf(stderr, "winprobe: no control %ld\n", id);
    return c;
}

// The window `caption`, or its control `idText` when one is given; nullptr (said) if absent.
HWND requireTarget(const char* caption, const char* idText = nullptr) {
    HWND top = findWindow(caption);
    if (!top)
        std::fprintf(stderr, "winprobe: no visible window \"%s\"\n", caption);
    if (!top || !idText)
        return top;
    return requireChild(top, idText);
}

int cmdWait(const char* caption, long timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
    for (;;) {
        HWND hwnd = findWindow(caption);
        if (hwnd) {
            DWORD pid = 0;
            GetWindowThreadProcessId(hwnd, &pid);
            std::printf("hwnd=0x%llx pid=%lu\n",
                        static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(hwnd)),
                        static_cast<unsigned long>(pid));
            return kExitOk;
        }
        if (GetTickCount64() >= deadline)
            break;
        Sleep(50);
    }
    std::fprintf(stderr, "winprobe: no visible window \"%s\" after %ld ms\n", caption, timeoutMs);
    return kExitNotFound;
}

int cmdText(const char* caption, int count, char** ids) {
    HWND top = requireTarget(caption);
    if (!top)
        return kExitNotFound;
    int rc = kExitOk;
    for (int i = 0; i < count; ++i) {
        HWND c = requireChild(top, ids[i]);
        std::string t;
        if (!c || !readText(c, t)) {
            if (c)
                std::fprintf(stderr, "winprobe: control %s did not answer\n", ids[i]);
            std::printf("\n");  // keeps the lines aligned with the ids asked for
            rc = kExitNotFound;
            continue;
        }
        std::printf("%s\n", escape(t).c_str());
    }
    return rc;
}

int cmdFocus(const char* caption) {
    HWND top = requireTarget(caption);
    if (!top)
        return kExitNotFound;
    // The window holding the keyboard focus in the GUI thread that owns the window.
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    const DWORD thread = GetWindowThreadProcessId(top, nullptr);
    const HWND focus = thread && GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
    if (!focus) {
        std::fprintf(stderr, "winprobe: no focused window in \"%s\"'s thread\n", caption);
        return kExitNotFound;
    }
    std::printf("%d\n", GetDlgCtrlID(focus));
    return kExitOk;
}

int cmdRect(const char* caption, const char* idText) {
    HWND target = requireTarget(caption, idText);
    if (!target)
        return kExitNotFound;
    RECT r{};
    if (!GetWindowRect(target, &r)) {
        std::fprintf(stderr, "winprobe: GetWindowRect failed (%lu)\n", static_cast<unsigned long>(GetLastError()));
        return kExitNotFound;
    }
    std::printf("%ld %ld %ld %ld\n", static_cast<long>(r.left), static_cast<long>(r.top),
                static_cast<long>(r.right), static_cast<long>(r.bottom));
    return kExitOk;
}

int cmdPost(const char* caption, const char* idText, UINT message, WPARAM wParam = 0) {
    HWND target = requireTarget(caption, idText);
    if (!target)
        return kExitNotFound;
    if (!PostMessageA(target, message, wParam, 0)) {
        std::fprintf(stderr, "winprobe: PostMessage failed (%lu)\n", static_cast<unsigned long>(GetLastError()));
        return kExitNotFound;
    }
    return kExitOk;
}

int cmdSend(const char* caption, const char* idText, UINT message) {
    HWND target = requireTarget(caption, idText);
    if (!target)
        return kExitNotFound;
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(target, message, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &result)) {
        std::fprintf(stderr, "winprobe: the window did not answer\n");
        return kExitNotFound;
    }
    std::printf("%lld\n", static_cast<long long>(static_cast<LONG_PTR>(result)));
    return kExitOk;
}

// The clipboard keeps the text after this process ends: it belongs to the system once set.
int cmdClip(const char* countText) {
    long count = 0;
    if (!parseInt(countText, 0, 100000000, count))
        return kExitUsage;
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, static_cast<SIZE_T>(count) + 1);
    char* text = memory ? static_cast<char*>(GlobalLock(memory)) : nullptr;
    if (!text) {
        std::fprintf(stderr, "winprobe: no memory for %ld characters\n", count);
        return kExitNotFound;
    }
    for (long i = 0; i < count; ++i)
        text[i] = static_cast<char>('a' + i % 26);
    text[count] = '\0';
    GlobalUnlock(memory);
    if (!OpenClipboard(nullptr)) {
        GlobalFree(memory);
        std::fprintf(stderr, "winprobe: cannot open the clipboard (%lu)\n", static_cast<unsigned long>(GetLastError()));
        return kExitNotFound;
    }
    EmptyClipboard();
    const bool set = SetClipboardData(CF_TEXT, memory) != nullptr;
    CloseClipboard();
    if (!set) {
        GlobalFree(memory);
        std::fprintf(stderr, "winprobe: SetClipboardData failed\n");
        return kExitNotFound;
    }
    return kExitOk;
}

int usage() {
    std::fprintf(stderr,
                 "usage: winprobe wait <caption> <timeout_ms>\n"
                 "       winprobe text <caption> <id> [<id>...]\n"
                 "       winprobe focus <caption>\n"
                 "       winprobe rect <caption> [<id>]\n"
                 "       winprobe click <caption> <id>\n"
                 "       winprobe close <caption>\n"
                 "       winprobe syscommand <caption> <command>\n"
                 "       winprobe send <caption> <id> <message>\n"
                 "       winprobe clip <count>\n");
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    // LF line ends on stdout, whatever reads it (a Linux script through Wine, as a rule).
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc < 3)
        return usage();
    const std::string cmd = argv[1];
    const char* caption = argv[2];
    long number = 0;
    int rc = kExitUsage;
    if (cmd == "wait" && argc == 4 && parseInt(argv[3], 0, 3600000, number)) {
        rc = cmdWait(caption, number);
    } else if (cmd == "text" && argc >= 4) {
        rc = cmdText(caption, argc - 3, argv + 3);
    } else if (cmd == "focus" && argc == 3) {
        rc = cmdFocus(caption);
    } else if (cmd == "rect" && argc <= 4) {
        rc = cmdRect(caption, argc == 4 ? argv[3] : nullptr);
    } else if (cmd == "click" && argc == 4) {
        rc = cmdPost(caption, argv[3], BM_CLICK);
    } else if (cmd == "close" && argc == 3) {
        rc = cmdPost(caption, nullptr, WM_CLOSE);
    } else if (cmd == "syscommand" && argc == 4 && parseInt(argv[3], 0, 0xFFFF, number)) {
        rc = cmdPost(caption, nullptr, WM_SYSCOMMAND, static_cast<WPARAM>(number));
    } else if (cmd == "send" && argc == 5 && parseInt(argv[4], 0, 0xFFFF, number)) {
        rc = cmdSend(caption, argv[3], static_cast<UINT>(number));
    } else if (cmd == "clip" && argc == 3) {
        rc = cmdClip(argv[2]);
    } else {
        return usage();
    }
    std::fflush(stdout);
    return rc;
}
