"""Drives a Windows program under Wine for end-to-end tests and benchmarks: the Wine/X session,
launching the program, focusing its fields, typing real keys at exact times and reading the
window back. Standard library only. The session itself is scripts/wine-env.sh (one
implementation of the Xvfb/prefix/server rules), run as a holder process for the Session.
"""

from __future__ import annotations

import argparse
import contextlib
import os
import re
import subprocess
import time
from dataclasses import dataclass
from pathlib import Path
from typing import Callable, Iterable, Optional, Sequence, Union

REPO = Path(__file__).resolve().parents[2]
WINE_ENV_SH = REPO / "scripts" / "wine-env.sh"
# The Wine loader: the 64-bit one unless TYPROVA_WINE names another (/usr/lib/wine/wine runs
# 32-bit programs).
WINE64 = "/usr/lib/wine/wine64"
DEFAULT_WINE = os.environ.get("TYPROVA_WINE", WINE64)
# The program's scoring as a command (tests/e2e/score_tool.cpp, native build); ctest names the
# built one.
SCORE_TOOL = Path(os.environ.get("TYPROVA_SCORE_TOOL",
                                  REPO / "build" / "native" / "tests" / "e2e" / "score_tool"))

class HarnessError(RuntimeError):
    """A step of the harness failed; the message says which and why."""


@dataclass
class KeyEvent:
    """One line of an injector script (scheduled) or of its report (scheduled and sent)."""
    at_ms: float
    down: bool
    key: str
    sent_ms: float | None = None

    # How far sent_ms may be off: 0 for the injector's own events, more for an X auto-repeat
    # whose time is only known from the server's schedule, math.inf when not known at all.
    err_ms: float = 0.0

    @property
    def lateness_ms(self) -> float:
        return self.sent_ms - self.at_ms

    def line(self) -> str:
        return f"{self.at_ms:.3f} {'down' if self.down else 'up'} {self.key}"


@dataclass
class Program:
    """A program started under Wine. pid is the Linux pid of its Wine loader process."""
    proc: subprocess.Popen
    caption: str

    @property
    def pid(self) -> int:
        return self.proc.pid


def keystrokes(keys: Sequence[str], start_ms: float, hold_ms: float = 50.0,
               gap_ms: float = 110.0) -> list[KeyEvent]:
    """Press and release each key in turn: key i goes down at start + i * gap and up hold_ms
    later. Keys are X keysym names ("a", "Shift_L", "BackSpace"). With hold >= gap the keys
    overlap, as in fast real typing."""
    events = []
    for i, key in enumerate(keys):
        t = start_ms + i * gap_ms
        events.append(KeyEvent(t, True, key))
        events.append(KeyEvent(t + hold_ms, False, key))
    events.sort(key=lambda e: e.at_ms)
    return events


def unescape(text: str) -> str:
    """Reverses winprobe's escaping of texts (\\t, \\n, \\r, \\\\, \\xNN)."""
    def repl(m: re.Match) -> str:
        s = m.group(0)
        return {"\\t": "\t", "\\n": "\n", "\\r": "\r", "\\\\": "\\"}.get(s) or chr(int(s[2:], 16))
    return re.sub(r"\\x[0-9a-fA-F]{2}|\\[tnr\\]", repl, text)


def parse_injector_report(text: str) -> list[KeyEvent]:
    events = []
    for line in text.splitlines():
        parts = line.split()
        if len(parts) != 4 or parts[2] not in ("down", "up"):
            raise HarnessError(f"unexpected injector output line {line!r}")
        events.append(KeyEvent(float(parts[0]), parts[2] == "down", parts[3], float(parts[1])))
    return events


class Session:
    """A Wine session (display, prefix, server) plus the tools that talk to its windows.

    It always uses a private Xvfb: a test must never type into the desktop of the person who
    runs it (Wine draws the frames itself there, as it has no window manager). wine: the Wine
    loader that runs the programs (default TYPROVA_WINE or the 64-bit one)."""

    def __init__(self, injector: Union[str, Path], winprobe: Union[str, Path],
                 prefix: Union[str, Path, None] = None, wine: Union[str, Path, None] = None):
        self.wine_loader = str(wine) if wine else DEFAULT_WINE
        self._holder: Optional[subprocess.Popen] = None
        self.injector = str(injector)
        self.winprobe = str(winprobe)
        self.prefix = str(prefix) if prefix else None
        self.env: dict[str, str] = {}
        self._programs: list[Program] = []

    # --- session -------------------------------------------------------------------------

    def start(self) -> "Session":
        env = dict(os.environ)
        env["TYPROVA_WINE"] = self.wine_loader
        if self.prefix:
            env["TYPROVA_WINEPREFIX"] = self.prefix
        env["TYPROVA_HEADLESS"] = "1"
        # The holder keeps the session (and the prefix's lock) until its stdin closes: at
        # stop(), or when this process ends however it ends.
        holder = subprocess.Popen(["bash", str(WINE_ENV_SH), "hold"], stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE, env=env, text=True)
        # Every step of the holder is bounded (the lock wait, the prefix boot, the first
        # process), so it always answers.
        exported: dict[str, str] = {}
        for line in holder.stdout:
            if line == "ready\n":
                break
            name, _, value = line.rstrip("\n").partition("=")
            exported[name] = value
        else:
            line = ""
        if line != "ready\n":
            holder.wait()
            raise HarnessError(f"the Wine session did not start ({holder.returncode})")
        env.update(exported)
        self._holder = holder
        self.env = env
        return self

    def stop(self) -> None:
        for prog in list(self._programs):
            if prog.proc.poll() is None:
                prog.proc.kill()
                prog.proc.wait(timeout=10)
        self._programs.clear()
        if self._holder is None:
            return
        self._holder.stdin.close()
        try:
            self._holder.wait(timeout=90)
        except subprocess.TimeoutExpired:
            self._holder.kill()
            self._holder.wait()
        self._holder.stdout.close()
        self._holder = None
        self.env = {}

    def __enter__(self) -> "Session":
        return self.start()

    def __exit__(self, *exc) -> None:
        self.stop()

    @property
    def display(self) -> str:
        return self.env["DISPLAY"]

    def _run(self, argv: Sequence[str], timeout: float = 30.0, check: bool = True,
             stdin: str | None = None) -> subprocess.CompletedProcess:
        if not self.env:
            raise HarnessError("the session is not started")
        r = subprocess.run(list(argv), input=stdin, capture_output=True, text=True,
                           env=self.env, timeout=timeout,
                           **({} if stdin is not None else {"stdin": subprocess.DEVNULL}))
        if check and r.returncode != 0:
            raise HarnessError(f"{Path(argv[0]).name} {' '.join(argv[1:3])}... failed "
                               f"({r.returncode}): {r.stderr.strip()}")
        return r

    # --- programs ------------------------------------------------------------------------

    def wine(self, exe: Union[str, Path], *args: str, timeout: float = 60.0,
             check: bool = False) -> subprocess.CompletedProcess:
        """Runs a console exe under Wine to completion and returns its result."""
        return self._run([self.env["WINE"], str(exe), *args], timeout=timeout, check=check)

    def launch(self, exe: Union[str, Path], caption: str, *args: str,
               wait_timeout_ms: int = 20000, loader: Optional[str] = None) -> Program:
        """Starts a GUI exe and returns once its window with this caption is visible.
        loader: the Wine loader for this exe, if not the session's."""
        proc = subprocess.Popen([loader or self.env["WINE"], str(exe), *args],
                                stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                env=self.env)
        prog = Program(proc, caption)
        self._programs.append(prog)
        try:
            self.wait_window(caption, wait_timeout_ms)
        except HarnessError:
            proc.kill()
            proc.wait(timeout=10)
            raise
        return prog

    def wait_window(self, caption: str, timeout_ms: int = 20000) -> tuple[int, int]:
        r = self.probe("wait", caption, str(timeout_ms), timeout=timeout_ms / 1000 + 30)
        m = re.match(r"hwnd=0x([0-9a-f]+) pid=(\d+)", r.stdout)
        if not m:
            raise HarnessError(f"unexpected winprobe wait output {r.stdout!r}")
        return int(m.group(1), 16), int(m.group(2))

    def close(self, prog: Program, timeout: float = 15.0) -> int:
        """Asks the window to close (WM_CLOSE) and returns the program's exit code."""
        if prog.proc.poll() is None:
            self.probe("close", prog.caption)
        return self.wait_exit(prog, timeout)

    def wait_exit(self, prog: Program, timeout: float = 15.0) -> int:
        try:
            rc = prog.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            prog.proc.kill()
            prog.proc.wait(timeout=10)
            raise HarnessError(f"{prog.caption!r} did not exit within {timeout} s; killed")
        if prog in self._programs:
            self._programs.remove(prog)
        return rc

    # --- reading and poking the window (winprobe) -----------------------------------------

    # Probe commands that only read the window, and so may be asked twice.
    _READ_ONLY_PROBES = ("text", "rect", "focus", "wait")

    def probe(self, *args: str, check: bool = True,
              timeout: float = 30.0) -> subprocess.CompletedProcess:
        argv = [self.env["WINE"], self.winprobe, *args]

        def once() -> Optional[subprocess.CompletedProcess]:
            try:
                return self._run(argv, timeout=timeout, check=False)
            except subprocess.TimeoutExpired:
                return None

        r = once()
        if (r is None or r.returncode != 0) and args and args[0] in self._READ_ONLY_PROBES:
            # On a loaded machine a probe process now and then fails without a word, or hangs
            # past its own timeout as it starts beside a program starting: a read is asked
            # once more before it counts as a failure.
            time.sleep(0.2)
            r = once()
        if r is None:
            raise HarnessError(f"winprobe {' '.join(args[:2])}... did not answer in {timeout} s")
        if check and r.returncode != 0:
            raise HarnessError(f"winprobe {' '.join(args[:2])}... failed "
                               f"({r.returncode}): {r.stderr.strip()}")
        return r

    def texts(self, caption: str, ids: Iterable[int]) -> list[str]:
        ids = list(ids)
        out = self.probe("text", caption, *map(str, ids)).stdout
        lines = out.split("\n")[: len(ids)]
        if len(lines) != len(ids):
            raise HarnessError(f"winprobe text returned {len(lines)} lines for {len(ids)} ids")
        return [unescape(t) for t in lines]

    def text(self, caption: str, control_id: int) -> str:
        return self.texts(caption, [control_id])[0]

    def focused_id(self, caption: str) -> int:
        return int(self.probe("focus", caption).stdout.strip())

    def rect(self, caption: str, control_id: int | None = None) -> tuple[int, int, int, int]:
        args = ["rect", caption] + ([str(control_id)] if control_id is not None else [])
        vals = [int(v) for v in self.probe(*args).stdout.split()]
        if len(vals) != 4:
            raise HarnessError("unexpected winprobe rect output")
        return vals[0], vals[1], vals[2], vals[3]

    def click_button(self, caption: str, control_id: int) -> None:
        """BM_CLICK without the mouse. Like a real click it moves the focus to the button."""
        self.probe("click", caption, str(control_id))

    # --- X side: focus, mouse, keys, screenshots ------------------------------------------

    def focus_window(self, caption: str) -> None:
        """Gives the X window Wine made for this top-level window the X keyboard focus (there
        is no window manager)."""
        r = self._run(["xdotool", "search", "--onlyvisible", "--name",
                       "^" + re.escape(caption) + "$"], check=False)
        if not r.stdout.split():
            raise HarnessError(f"no X window named {caption!r}")
        self._run(["xdotool", "windowfocus", "--sync", r.stdout.split()[0]], timeout=15)

    def click_at(self, x: int, y: int) -> None:
        # No "mousemove --sync": it waits for a motion event, which never comes when the
        # pointer already sits there. One xdotool connection keeps move and click in order.
        self._run(["xdotool", "mousemove", str(x), str(y), "click", "1"], timeout=15)

    def click_control(self, caption: str, control_id: int) -> None:
        """A real mouse click in the middle of the control."""
        left, top, right, bottom = self.rect(caption, control_id)
        self.click_at((left + right) // 2, (top + bottom) // 2)

    def focus_field(self, caption: str, control_id: int, timeout: float = 5.0) -> None:
        """Keyboard focus to the window, then a click into the field; waits until the program
        reports the field as focused."""
        self.focus_window(caption)
        self.click_control(caption, control_id)
        self.wait_focus(caption, control_id, timeout)

    def wait_focus(self, caption: str, control_id: int, timeout: float = 5.0) -> None:
        deadline = time.monotonic() + timeout
        while self.focused_id(caption) != control_id:
            if time.monotonic() > deadline:
                raise HarnessError(f"control {control_id} of {caption!r} did not take the focus")
            time.sleep(0.05)

    def play(self, script: Union[str, Sequence[KeyEvent]],
             during: Optional[Callable[[], None]] = None) -> list[KeyEvent]:
        """Sends the key events at their times and returns them with the times they were sent.
        script is injector text or a list of KeyEvent. during: work to do (probing, opening
        windows) while the injector plays; the injector is waited for after it returns."""
        text = script if isinstance(script, str) else "\n".join(e.line() for e in script) + "\n"
        timeout = max((e.at_ms for e in parse_script(text)), default=0.0) / 1000 + 30
        if during is None:
            return parse_injector_report(self._run([self.injector], timeout=timeout,
                                                   stdin=text).stdout)
        with subprocess.Popen([self.injector], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, text=True, env=self.env) as injector:
            injector.stdin.write(text)
            injector.stdin.close()
            try:
                during()
            finally:
                out, err = injector.stdout.read(), injector.stderr.read()
                injector.wait(timeout=timeout)
        if injector.returncode != 0:
            raise HarnessError(f"injector failed ({injector.returncode}): {err.strip()}")
        return parse_injector_report(out)

    def screenshot(self, caption: str, path: Union[str, Path]) -> Path:
        """Saves a PNG of the window (its screen rectangle cut from the root window)."""
        left, top, right, bottom = self.rect(caption)
        path = Path(path)
        path.parent.mkdir(parents=True, exist_ok=True)
        geometry = f"{right - left}x{bottom - top}+{left}+{top}"
        self._run(["import", "-window", "root", "-crop", geometry, "+repage", str(path)], timeout=30)
        return path


def parse_script(text: str) -> list[KeyEvent]:
    """Reads injector script text (for the caller's own bookkeeping; the injector validates)."""
    events = []
    for line in text.splitlines():
        line = line.split("#", 1)[0].split()
        if len(line) == 3:
            events.append(KeyEvent(float(line[0]), line[1] == "down", line[2]))
    return events


# --- X keyboard auto-repeat and process memory ----------------------------------------------

def _xkb_call(display: str, fn):
    """Opens the X display with libX11 (ctypes, no extra package), calls fn(lib, dpy), closes."""
    import ctypes
    lib = ctypes.CDLL("libX11.so.6")
    lib.XOpenDisplay.restype = ctypes.c_void_p
    lib.XOpenDisplay.argtypes = [ctypes.c_char_p]
    dpy = lib.XOpenDisplay(display.encode())
    if not dpy:
        raise HarnessError(f"cannot open X display {display!r}")
    try:
        return fn(lib, ctypes.c_void_p(dpy))
    finally:
        lib.XCloseDisplay(ctypes.c_void_p(dpy))


XKB_USE_CORE_KBD = 0x100


def get_autorepeat(display: str) -> tuple[int, int]:
    """The X server's keyboard auto-repeat (delay ms, interval ms)."""
    import ctypes

    def fn(lib, dpy):
        delay, interval = ctypes.c_uint(), ctypes.c_uint()
        if not lib.XkbGetAutoRepeatRate(dpy, XKB_USE_CORE_KBD, ctypes.byref(delay),
                                        ctypes.byref(interval)):
            raise HarnessError("XkbGetAutoRepeatRate failed")
        return delay.value, interval.value
    return _xkb_call(display, fn)


def set_autorepeat(display: str, delay_ms: int, interval_ms: int) -> None:
    """Sets the server's auto-repeat: a key held longer than delay_ms repeats every interval_ms.
    The repeats are made by the X server itself (a second XTest press of a key already down
    is dropped by the server), so a test knows their schedule but not their exact times."""
    def fn(lib, dpy):
        if not lib.XkbSetAutoRepeatRate(dpy, XKB_USE_CORE_KBD, delay_ms, interval_ms):
            raise HarnessError("XkbSetAutoRepeatRate failed")
        lib.XSync(dpy, 0)
    _xkb_call(display, fn)
    if get_autorepeat(display) != (delay_ms, interval_ms):
        raise HarnessError("the X server did not take the auto-repeat setting")


def rss_kb(pid: int) -> int:
    """Resident memory (VmRSS, KiB) of a Linux process, e.g. Program.pid: under Wine the loader
    process started by launch() is the Windows process itself."""
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise HarnessError(f"no VmRSS for pid {pid}")


def prefix_pids(prefix: Union[str, Path]) -> list[int]:
    """Linux pids of every process started for the Wine prefix: its Xvfb, server, desktop,
    services and programs (each has the prefix in its environment)."""
    want = f"WINEPREFIX={prefix}".encode()
    pids = []
    for d in Path("/proc").iterdir():
        if not d.name.isdigit():
            continue
        try:
            env = (d / "environ").read_bytes().split(b"\0")
        except OSError:
            continue
        if want in env:
            pids.append(int(d.name))
    return pids


def raise_session_priority(session: "Session", programs: Sequence["Program"] = (),
                           rt_priority: int = 5) -> int:
    """Lets the key path win the CPU over unrelated work such as a parallel build: the
    session's X server, its Wine server and the given programs (every thread) get the
    round-robin real-time class at rt_priority, below the injector's own priority (10). On a
    2-core machine with a build running, key events otherwise reach the program up to ~10 ms
    late; with it, a few ms at most. These processes sleep between events, and the kernel's
    real-time throttling keeps a runaway one from taking a whole core. Where real-time is not
    permitted, a nice value of -10 is tried instead. Returns the number of threads changed;
    call it again after launching a program."""
    pids = {p.pid for p in programs}
    xvfb = session.env.get("TYPROVA_XVFB_PID", "")
    if xvfb.isdigit():
        pids.add(int(xvfb))
    for pid in prefix_pids(session.env["WINEPREFIX"]):
        with contextlib.suppress(OSError):
            if Path(f"/proc/{pid}/comm").read_text().startswith("wineserver"):
                pids.add(pid)
    changed = 0
    for tid in (int(t.name) for pid in pids for t in Path(f"/proc/{pid}/task").glob("*")):
        try:
            os.sched_setscheduler(tid, os.SCHED_RR, os.sched_param(rt_priority))
        except OSError:
            try:
                os.setpriority(os.PRIO_PROCESS, tid, -10)
            except OSError:
                continue            # the thread has ended, or neither is permitted
        changed += 1
    return changed


def tool_arguments(default_app: Path) -> argparse.ArgumentParser:
    """A parser for the tools every end-to-end script takes (defaults: the build trees)."""
    p = argparse.ArgumentParser()
    p.add_argument("--injector", default=REPO / "build/native/tests/e2e/injector", type=Path)
    p.add_argument("--winprobe", default=REPO / "build/win64/tests/e2e/winprobe.exe", type=Path)
    p.add_argument("--app", default=default_app, type=Path)
    return p


def distribution(values: Iterable[float]) -> dict[str, float]:
    """n, median, p95, p99 and max of the values' sizes (|v|); percentiles by the nearest
    rank of p * (n - 1). NaN for every figure of no values."""
    vals = sorted(abs(v) for v in values)
    if not vals:
        nan = float("nan")
        return {"n": 0.0, "median": nan, "p95": nan, "p99": nan, "max": nan}

    def pct(p: float) -> float:
        return vals[min(len(vals) - 1, int(round(p * (len(vals) - 1))))]
    return {"n": float(len(vals)), "median": pct(0.5), "p95": pct(0.95), "p99": pct(0.99),
            "max": vals[-1]}
