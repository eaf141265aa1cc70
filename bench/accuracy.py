"""Timing accuracy bench: plays one fixed schedule of realistic password typing through the key
injector into Typrova under Wine, a keystroke-capture web page in Chromium and a bare X11
client, one after the other on the same Xvfb, and compares what each measured with the times
the keys were actually sent.

Each of the three gets the same 15-key passwords, each played by its own injector run. Typrova
shows one entry at a time, so after every password the bench reads its 29 labels and clicks
"Clear"; passwords alternate between the two fields. All three are scored by one rule, the
program's: on every release with L characters in the field (1..15), position L gets
Pressed = the last gap between key events and Interval = the gap before it. With one key at a
time these are the hold and the preceding pause; with Shift and overlapping keys they are still
well-defined differences of two event times, computed the same way from the sent times.
"""

from __future__ import annotations

import json
import math
import os
import random
import signal
import string
import subprocess
import sys
import tempfile
import threading
import time
from dataclasses import dataclass, field
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path
from typing import Optional, Sequence

BENCH = Path(__file__).resolve().parent
REPO = BENCH.parent
sys.path.insert(0, str(REPO / "tests" / "e2e"))
import harness  # noqa: E402
from replay import resource_ids  # noqa: E402

KEYS_PER_PASSWORD = 15
CAPTION = "Typrova"
SHIFT = "Shift_L"
END_MARKER = "Escape"

# --- schedule --------------------------------------------------------------------------------

Event = tuple[float, bool, str]  # (time ms, down, X keysym name)


def _clip(value: float, low: float, high: float) -> float:
    return min(high, max(low, value))


def make_password(rng: random.Random, keys: int = KEYS_PER_PASSWORD, start_ms: float = 60.0,
                  shift_rate: float = 0.15, overlap_rate: float = 0.12) -> list[Event]:
    """One password typed by a person: holds 30..250 ms, pauses 20..500 ms (log-normal, as
    measured typing is), some capitals typed with Shift, some keys pressed before the previous
    one is released. Every event is at least 5 ms from the next, so their order is unambiguous
    even at the X server's millisecond resolution."""
    events: list[Event] = []
    last = start_ms          # time of the latest event so far
    prev: Optional[tuple[float, float, bool, str]] = None  # previous key's down, up, shifted, key
    for i in range(keys):
        shifted = rng.random() < shift_rate
        key = rng.choice(string.ascii_lowercase if shifted
                         else string.ascii_lowercase + string.digits)
        hold = _clip(rng.lognormvariate(math.log(95), 0.35), 30, 250)
        pause = _clip(rng.lognormvariate(math.log(140), 0.6), 20, 500)
        if i == 0:
            pause = 0.0
        # A rolled-over key goes down before the previous one is up, but after every other
        # event: room is the time between the previous release and the event before it.
        room = prev[1] - events[-2][0] - 5 if prev is not None and len(events) >= 2 else 0.0
        overlap = (prev is not None and not shifted and not prev[2] and key != prev[3]
                   and room >= 20 and rng.random() < overlap_rate)
        if overlap:
            assert prev is not None
            ahead = rng.uniform(10, min(45, room))
            down = prev[1] - ahead
            hold = max(hold, ahead + 10 + rng.uniform(0, 40))
            up = down + hold
            events += [(down, True, key), (up, False, key)]
        elif shifted:
            shift_down = last + pause
            down = shift_down + rng.uniform(25, 90)
            up = down + hold
            events += [(shift_down, True, SHIFT), (down, True, key), (up, False, key),
                       (up + rng.uniform(15, 70), False, SHIFT)]
        else:
            down = last + pause
            up = down + hold
            events += [(down, True, key), (up, False, key)]
        events.sort(key=lambda e: e[0])
        last = events[-1][0]
        prev = (down, up, shifted, key)
    return [(round(t, 3), d, k) for t, d, k in events]


def make_schedule(passwords: int = 40, seed: int = 20240607) -> list[list[Event]]:
    """The bench's fixed schedule: the same seed gives the same keys at the same times."""
    rng = random.Random(seed)
    return [make_password(rng) for _ in range(passwords)]


def script_text(events: Sequence[Event]) -> str:
    return "".join(f"{t:.3f} {'down' if d else 'up'} {k}\n" for t, d, k in events)


# --- the program's rule, applied to any list of event times ------------------------------------

def is_character(key: str) -> bool:
    return len(key) == 1


def slots_from_times(events: Sequence[Event]) -> dict[int, tuple[Optional[float], float]]:
    """Position -> (Interval, Pressed) after replaying the events through the program's rule.
    The field starts empty; the first event's gap (to a key event before this password) is
    unknown and comes out as None."""
    slots: dict[int, tuple[Optional[float], float]] = {}
    length = 0
    last: Optional[float] = None
    gap: Optional[float] = None
    previous_gap: Optional[float] = None
    for t, down, key in events:
        previous_gap, gap = gap, (t - last if last is not None else None)
        last = t
        if down and is_character(key):
            length += 1
        if not down and 1 <= length <= KEYS_PER_PASSWORD and gap is not None:
            slots[length] = (previous_gap, gap)
    return slots


@dataclass
class Errors:
    """Signed errors (measured - sent) in ms, per kind, plus faults found while matching."""
    pressed: list[float] = field(default_factory=list)
    interval: list[float] = field(default_factory=list)
    faults: list[str] = field(default_factory=list)


def compare_slots(measured: dict[int, tuple[Optional[float], float]],
                  sent: dict[int, tuple[Optional[float], float]], errors: Errors,
                  where: str) -> None:
    """Adds the errors of every position the sent times fill. Position 1's Interval is never
    shown, so it is not compared."""
    for pos, (interval, pressed) in sorted(sent.items()):
        if pos not in measured:
            errors.faults.append(f"{where}: position {pos} not measured")
            continue
        m_interval, m_pressed = measured[pos]
        errors.pressed.append(m_pressed - pressed)
        if pos >= 2 and interval is not None:
            if m_interval is None:
                errors.faults.append(f"{where}: position {pos} has no interval")
            else:
                errors.interval.append(m_interval - interval)
    for pos in sorted(set(measured) - set(sent)):
        errors.faults.append(f"{where}: position {pos} measured but nothing was typed there")


def split_observed(observed: Sequence[Event], chunks: Sequence[Sequence[Event]],
                   errors: Errors, name: str) -> list[Optional[list[Event]]]:
    """Cuts a reference's continuous record into the passwords that were played, checking that
    every event arrived, in order, with the key that was sent. A password whose record does not
    match is reported as a fault and left out (None)."""
    out: list[Optional[list[Event]]] = []
    pos = 0
    for i, chunk in enumerate(chunks):
        part = list(observed[pos:pos + len(chunk)])
        pos += len(chunk)
        got = [(d, k) for _, d, k in part]
        want = [(d, k) for _, d, k in chunk]
        if got != want:
            errors.faults.append(f"{name} password {i + 1}: events {got[:6]}... differ from "
                                 f"the sent {want[:6]}...")
            out.append(None)
        else:
            out.append(part)
    if pos < len(observed):
        errors.faults.append(f"{name}: {len(observed) - pos} extra events recorded")
    elif pos > len(observed):
        errors.faults.append(f"{name}: {pos - len(observed)} events missing")
    return out


def summary(values: Sequence[float]) -> dict[str, float]:
    """Absolute values' n, median, p95, p99, max (nearest rank)."""
    vals = sorted(abs(v) for v in values)
    if not vals:
        return {"n": 0, "median": math.nan, "p95": math.nan, "p99": math.nan, "max": math.nan}

    def pct(p: float) -> float:
        return vals[min(len(vals) - 1, int(math.ceil(p * len(vals))) - 1)]
    return {"n": len(vals), "median": pct(0.5), "p95": pct(0.95), "p99": pct(0.99),
            "max": vals[-1]}


# --- reading the program's window --------------------------------------------------------------

@dataclass
class Field:
    edit: int
    clear: int
    pressed: dict[int, int]    # position -> label id
    intervals: dict[int, int]


def fields(ids: dict[str, int]) -> list[Field]:
    out = []
    for prefix in ("ENTERED", "REENTERED"):
        out.append(Field(ids[f"IDC_{prefix}"], ids[f"IDC_CLEAR_{prefix}"],
                         {p: ids[f"IDC_{prefix}_PRESSED{p}"] for p in range(1, 16)},
                         {p: ids[f"IDC_{prefix}_INTERVAL{p}"] for p in range(2, 16)}))
    return out


def parse_table(f: Field, texts: dict[int, str]) -> dict[int, tuple[Optional[float], float]]:
    """Reads the shown table back into slots; a position whose values are all 0.00 holds
    nothing (a measured 0.00 ms gap cannot happen between events 5 ms apart)."""
    slots: dict[int, tuple[Optional[float], float]] = {}
    for pos in range(1, 16):
        pressed = float(texts[f.pressed[pos]])
        interval = float(texts[f.intervals[pos]]) if pos >= 2 else None
        if pressed != 0.0 or (interval or 0.0) != 0.0:
            slots[pos] = (interval, pressed)
    return slots


# --- the three targets -------------------------------------------------------------------------

@dataclass
class Tools:
    injector: Path
    winprobe: Path
    typrova: Path
    xtimes: Path
    chromium: Optional[str]


def sent_events(report: Sequence[harness.KeyEvent]) -> list[Event]:
    return [(e.sent_ms if e.sent_ms is not None else math.nan, e.down, e.key) for e in report]


def run_typrova(session: harness.Session, tools: Tools, chunks: Sequence[Sequence[Event]],
                lateness: list[float]) -> Errors:
    errors = Errors()
    grid = fields(resource_ids())
    app = session.launch(tools.typrova, CAPTION)
    try:
        for i, chunk in enumerate(chunks):
            f = grid[i % 2]
            session.focus_field(CAPTION, f.edit)
            report = session.play(script_text(chunk))
            lateness += [e.lateness_ms for e in report]
            time.sleep(0.1)
            ids = [f.edit] + list(f.pressed.values()) + list(f.intervals.values())
            texts = dict(zip(ids, session.texts(CAPTION, ids)))
            typed = sum(1 for _, d, k in chunk if d and is_character(k))
            if len(texts[f.edit]) != typed:
                errors.faults.append(f"Typrova password {i + 1}: field holds "
                                     f"{len(texts[f.edit])} characters, {typed} were typed")
            compare_slots(parse_table(f, texts), slots_from_times(sent_events(report)), errors,
                          f"Typrova password {i + 1}")
            session.click_button(CAPTION, f.clear)
    finally:
        session.close(app)
    return errors


def _play_chunks(session: harness.Session, chunks: Sequence[Sequence[Event]]
                 ) -> list[list[Event]]:
    sent = []
    for chunk in chunks:
        sent.append(sent_events(session.play(script_text(chunk))))
        time.sleep(0.3)
    session.play(f"0 down {END_MARKER}\n20 up {END_MARKER}\n")
    return sent


def _score_reference(name: str, observed: list[Event], sent: list[list[Event]],
                     chunks: Sequence[Sequence[Event]]) -> Errors:
    errors = Errors()
    for i, (part, sent_chunk) in enumerate(zip(split_observed(observed, chunks, errors, name),
                                               sent)):
        if part is not None:
            compare_slots(slots_from_times(part), slots_from_times(sent_chunk), errors,
                          f"{name} password {i + 1}")
    return errors


def run_x11(session: harness.Session, tools: Tools, chunks: Sequence[Sequence[Event]]) -> Errors:
    proc = subprocess.Popen([str(tools.xtimes)], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            text=True, env=session.env)
    try:
        assert proc.stdout is not None
        first = proc.stdout.readline().split()
        if len(first) != 2 or first[0] != "window":
            raise harness.HarnessError(f"xtimes did not start: {first}")
        session._run(["xdotool", "windowfocus", "--sync", first[1]], timeout=15)
        sent = _play_chunks(session, chunks)
        out, _ = proc.communicate(timeout=30)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    observed = []
    for line in out.splitlines():
        t, kind, key = line.split()
        observed.append((float(t), kind == "down", key))
    return _score_reference("X11 client", observed, sent, chunks)


def browser_code(key: str) -> str:
    """KeyboardEvent.code of an X keysym name the schedule uses."""
    if key in string.ascii_lowercase:
        return "Key" + key.upper()
    if key in string.digits:
        return "Digit" + key
    return {"Shift_L": "ShiftLeft", "Shift_R": "ShiftRight"}[key]


class _PageServer(ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self):
        super().__init__(("127.0.0.1", 0), _PageHandler)
        self.posts: dict[str, dict] = {}
        self.changed = threading.Condition()

    def wait_for(self, path: str, timeout: float) -> Optional[dict]:
        with self.changed:
            self.changed.wait_for(lambda: path in self.posts, timeout)
            return self.posts.get(path)


class _PageHandler(BaseHTTPRequestHandler):
    server: _PageServer

    def do_GET(self):  # noqa: N802 (http.server's naming)
        if self.path.split("?")[0] != "/keypage.html":
            self.send_error(404)
            return
        body = (BENCH / "keypage.html").read_bytes()
        self.send_response(200)
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_POST(self):  # noqa: N802
        data = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        self.send_response(204)
        self.end_headers()
        with self.server.changed:
            self.server.posts[self.path] = json.loads(data or b"{}")
            self.server.changed.notify_all()

    def log_message(self, *args):
        pass


def run_browser(session: harness.Session, tools: Tools, chunks: Sequence[Sequence[Event]]
                ) -> Errors:
    if not tools.chromium:
        raise harness.HarnessError("chromium is not installed")
    server = _PageServer()
    threading.Thread(target=server.serve_forever, daemon=True).start()
    profile = tempfile.mkdtemp(prefix="typrova-bench-chromium.")
    url = f"http://127.0.0.1:{server.server_address[1]}/keypage.html"
    argv = [tools.chromium, "--no-first-run", "--disable-background-networking",
            "--disable-component-update", "--disable-sync", "--disable-quic",
            "--no-default-browser-check", "--no-sandbox", f"--user-data-dir={profile}",
            "--window-position=0,0", "--window-size=800,600", f"--app={url}"]
    proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, env=session.env, start_new_session=True)
    try:
        if server.wait_for("/ready", 60) is None:
            raise harness.HarnessError("the page did not load in Chromium")
        deadline = time.monotonic() + 30
        xid = None
        while xid is None:
            r = session._run(["xdotool", "search", "--onlyvisible", "--name",
                              "keystroke capture reference"], check=False)
            ids = r.stdout.split()
            if ids:
                xid = ids[-1]
            elif time.monotonic() > deadline:
                raise harness.HarnessError("no Chromium window")
            else:
                time.sleep(0.2)
        session._run(["xdotool", "windowfocus", "--sync", xid], timeout=15)
        if server.wait_for("/focus", 5) is None:
            session._run(["xdotool", "mousemove", "400", "300", "click", "1"], timeout=15)
            if server.wait_for("/focus", 10) is None:
                raise harness.HarnessError("the page did not get the keyboard")
        sent = _play_chunks(session, chunks)
        result = server.wait_for("/result", 30)
        if result is None:
            raise harness.HarnessError("the page sent no result")
    finally:
        try:
            os.killpg(proc.pid, signal.SIGTERM)
            proc.wait(timeout=15)
        except (ProcessLookupError, subprocess.TimeoutExpired):
            try:
                os.killpg(proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            proc.wait()
        server.shutdown()
        server.server_close()
        subprocess.run(["rm", "-rf", profile], check=False)
    codes = {browser_code(k): k for chunk in chunks for _, _, k in chunk}
    observed = [(float(e["t"]), bool(e["down"]), codes.get(e["code"], e["code"]))
                for e in result["events"]]
    return _score_reference("Chromium page", observed, sent, chunks)


def vk_key(vk: int) -> str:
    """X keysym name of a Windows virtual-key code the schedule uses."""
    if 0x41 <= vk <= 0x5A:
        return chr(vk).lower()
    if 0x30 <= vk <= 0x39:
        return chr(vk)
    return {0x10: SHIFT}.get(vk, f"vk{vk}")


def run_all(session: harness.Session, tools: Tools, passwords: int = 40
            ) -> tuple[dict[str, Errors], list[float], int]:
    """The three targets one after the other, the program first. Returns their errors, the
    injector's lateness over the program's run and the number of character keystrokes."""
    chunks = make_schedule(passwords)
    lateness: list[float] = []
    results = {"Typrova": run_typrova(session, tools, chunks, lateness),
               "Chromium page": run_browser(session, tools, chunks),
               "X11 client": run_x11(session, tools, chunks)}
    keystrokes = sum(1 for c in chunks for _, d, k in c if d and is_character(k))
    return results, lateness, keystrokes
