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

A second schedule is real typing: sentences that two people typed on physical keyboards (the
keyboard/ data set of the real typing folder), cut at word boundaries into passwords of at most
15 characters, with every key's recorded press and release kept (rolled-over keys, Shift,
Backspace and caret keys as they were typed).

Every target's session is raised to the priority the end-to-end tests use (the program or the
browser or the X client, the Wine server and Xvfb; see harness.raise_session_priority), and X
auto-repeat is off while the schedules play, so a long real hold is one press and one release.
"""

from __future__ import annotations

import contextlib
import itertools
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
import types
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
DEFAULT_DATA = REPO.parent / "shared" / "realtyping"
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

# X keysyms other than single letters and digits that put one character into the field.
PUNCTUATION = frozenset({"space", "period", "comma", "apostrophe", "semicolon", "slash", "equal",
                         "minus"})
CARET_KEYS = frozenset({"Left", "Right", "Home", "End"})


def is_character(key: str) -> bool:
    return len(key) == 1 or key in PUNCTUATION


class FieldLength:
    """The length of an edit field's text and its caret, as key presses change them."""

    def __init__(self) -> None:
        self.length = 0
        self.caret = 0

    def press(self, key: str) -> None:
        if is_character(key):
            self.length += 1
            self.caret += 1
        elif key == "BackSpace":
            if self.caret > 0:
                self.length -= 1
                self.caret -= 1
        elif key in CARET_KEYS:
            self.caret = {"Left": max(0, self.caret - 1),
                          "Right": min(self.length, self.caret + 1),
                          "Home": 0, "End": self.length}[key]


def final_length(events: Sequence[Event]) -> int:
    field_ = FieldLength()
    for _, down, key in events:
        if down:
            field_.press(key)
    return field_.length


def slots_from_times(events: Sequence[Event]) -> dict[int, tuple[Optional[float], float]]:
    """Position -> (Interval, Pressed) after replaying the events through the program's rule.
    The field starts empty; the first event's gap (to a key event before this password) is
    unknown and comes out as None."""
    slots: dict[int, tuple[Optional[float], float]] = {}
    field_ = FieldLength()
    last: Optional[float] = None
    gap: Optional[float] = None
    previous_gap: Optional[float] = None
    for t, down, key in events:
        previous_gap, gap = gap, (t - last if last is not None else None)
        last = t
        if down:
            field_.press(key)
        elif 1 <= field_.length <= KEYS_PER_PASSWORD and gap is not None:
            slots[field_.length] = (previous_gap, gap)
    return slots


# --- real typing: the keyboard/ data set -------------------------------------------------------

# The data set's names of keys without a character, and of characters that are not the X
# keysym's own name. A character typed with Shift is played as its unshifted key: the data set
# records the Shift key as a key of its own, and it is played as it was typed.
DATASET_KEYS = {"SHIFT": "Shift_L", "BKSP": "BackSpace", "ARW_RIGHT": "Right", "HOME": "Home"}
DATASET_CHARACTERS = {" ": "space", ".": "period", ",": "comma", "'": "apostrophe",
                      ";": "semicolon", "/": "slash", "?": "slash", "=": "equal", "*": "8",
                      "-": "minus"}


def x_key(letter: str) -> str:
    """The X keysym that plays a key of the data set."""
    if letter in DATASET_KEYS:
        return DATASET_KEYS[letter]
    if letter in DATASET_CHARACTERS:
        return DATASET_CHARACTERS[letter]
    if len(letter) == 1 and letter.isascii() and letter.isalnum():
        return letter.lower()
    raise ValueError(f"key {letter!r} of the data set has no X key here")


@dataclass(frozen=True)
class Keystroke:
    press: float    # ms
    release: float
    key: str        # X keysym


def read_keyboard(path: Path) -> list[list[Keystroke]]:
    """The sentences of one person's keystroke file, each a list of keystrokes in the order of
    their presses. The file repeats some sentences' rows; a keystroke (sentence and keystroke
    id) is taken once."""
    import csv
    sentences: dict[str, list[Keystroke]] = {}
    seen: set[tuple[str, str]] = set()
    with path.open(encoding="utf-8", newline="") as f:
        for row in csv.DictReader(f, delimiter="\t", quoting=csv.QUOTE_NONE):
            ident = (row["TEST_SECTION_ID"], row["KEYSTROKE_ID"])
            if ident in seen:
                continue
            seen.add(ident)
            press, release = float(row["PRESS_TIME"]), float(row["RELEASE_TIME"])
            if release < press:
                raise ValueError(f"{path}: keystroke {ident} is released before it is pressed")
            sentences.setdefault(row["TEST_SECTION_ID"], []).append(
                Keystroke(press, release, x_key(row["LETTER"])))
    return [sorted(ks, key=lambda k: k.press) for ks in sentences.values()]


def _max_length(keystrokes: Sequence[Keystroke]) -> int:
    field_, most = FieldLength(), 0
    for k in keystrokes:
        field_.press(k.key)
        most = max(most, field_.length)
    return most


def cut_passwords(sentence: Sequence[Keystroke], limit: int = KEYS_PER_PASSWORD
                  ) -> list[list[Keystroke]]:
    """Cuts a typed sentence at word boundaries (after a space) into runs of keystrokes whose
    text never grows past `limit` characters. A word too long on its own is cut where the next
    key would pass the limit."""
    words: list[list[Keystroke]] = [[]]
    for k in sentence:
        words[-1].append(k)
        if k.key == "space":
            words.append([])
    out: list[list[Keystroke]] = []
    current: list[Keystroke] = []
    for word in (w for w in words if w):
        if _max_length(current + word) <= limit:
            current += word
            continue
        if current:
            out.append(current)
        current = []
        for k in word:
            if _max_length(current + [k]) > limit:
                out.append(current)
                current = []
            current.append(k)
    if current:
        out.append(current)
    return out


def password_events(keystrokes: Sequence[Keystroke], start_ms: float = 60.0,
                    rng: Optional[random.Random] = None) -> Optional[list[Event]]:
    """The presses and releases of a run of keystrokes, first press at start_ms. At equal times
    a release goes first (a key may be pressed again the moment it is up). A second Shift held
    with the first is the right one. None if the run cannot be played as typed: a key pressed
    while it is still down, or a caret key with Shift held (that selects text).

    The data set's times are whole milliseconds, as is the X server's clock: played as they
    are, the references (which time keys by that clock) would see every gap exactly and the
    comparison would say nothing about them. With rng, every event is moved to a random point
    of its own millisecond (the recording cannot tell where in it the key really went), the
    order of events within one millisecond kept."""
    origin = keystrokes[0].press
    raw: list[tuple[float, int, int, str]] = []  # time, 0 release / 1 press, order, key
    for i, k in enumerate(keystrokes):
        raw += [(k.press - origin + start_ms, 1, i, k.key),
                (k.release - origin + start_ms, 0, i, k.key)]
    raw.sort()
    if rng is not None:
        dithered = []
        for t, group in itertools.groupby(raw, key=lambda e: e[0]):
            same = list(group)
            offsets = sorted(rng.random() for _ in same)
            dithered += [(t + o, d, i, k) for o, (_, d, i, k) in zip(offsets, same)]
        raw = dithered
    held: dict[int, str] = {}  # keystroke -> keysym as played
    events: list[Event] = []
    for t, down, i, key in raw:
        if down:
            if key == "Shift_L" and "Shift_L" in held.values():
                key = "Shift_R"
            if key in held.values():
                return None
            if key in CARET_KEYS and any(v.startswith("Shift") for v in held.values()):
                return None
            held[i] = key
        else:
            key = held.pop(i)
        events.append((round(t, 3), bool(down), key))
    return events


def real_schedule(data: Path = DEFAULT_DATA, passwords: int = 40, seed: int = 20261209
                  ) -> list[list[Event]]:
    """Passwords cut from both people's sentences, taken in turn from each person in the order
    they were typed; `passwords` of them (0: all). Runs that file nothing or cannot be played
    as typed are left out. The seed places the events within their milliseconds."""
    rng = random.Random(seed)
    per_person = []
    for path in sorted((data / "keyboard").glob("*_keystrokes.txt")):
        runs = []
        for sentence in read_keyboard(path):
            for cut in cut_passwords(sentence):
                events = password_events(cut, rng=rng)
                if events is not None and slots_from_times(events):
                    runs.append(events)
        per_person.append(runs)
    if not per_person:
        raise FileNotFoundError(f"no keystroke files in {data / 'keyboard'}")
    chunks = [run for turn in itertools.zip_longest(*per_person) for run in turn if run]
    return chunks if passwords <= 0 else chunks[:passwords]


def plain_slots(events: Sequence[Event]) -> dict[int, tuple[Optional[float], float]]:
    """The data set's plain reading: for the k-th character key, its own hold and the pause
    from the release of the character key before it (negative when they overlap)."""
    slots: dict[int, tuple[Optional[float], float]] = {}
    order: list[str] = []
    releases: dict[int, float] = {}
    presses: dict[int, float] = {}
    for t, down, key in events:
        if not is_character(key):
            continue
        if down:
            order.append(key)
            presses[len(order)] = t
        else:
            k = max(i for i, name in enumerate(order, 1) if name == key)
            releases[k] = t
    for k in range(1, min(len(order), KEYS_PER_PASSWORD) + 1):
        interval = presses[k] - releases[k - 1] if k > 1 else None
        slots[k] = (interval, releases[k] - presses[k])
    return slots


def count_refiled(chunks: Sequence[Sequence[Event]]) -> tuple[int, int]:
    """(values shown, of them different from the plain reading) over the passwords, at the
    window's two decimals. Shown values are Pressed 1..15 and Interval 2..15 where either
    reading has one."""
    shown = differ = 0
    for events in chunks:
        filed, plain = slots_from_times(events), plain_slots(events)
        for pos in range(1, KEYS_PER_PASSWORD + 1):
            for which in ((1,) if pos == 1 else (0, 1)):
                a = filed.get(pos, (None, None))[which]
                b = plain.get(pos, (None, None))[which]
                if a is None and b is None:
                    continue
                shown += 1
                differ += f"{a or 0.0:.2f}" != f"{b or 0.0:.2f}"
    return shown, differ


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


Groups = dict[str, Sequence[Sequence[Event]]]  # schedule name -> its passwords


def _flatten(groups: Groups) -> list[tuple[str, int, Sequence[Event]]]:
    """(schedule, password number, events) of every password, schedule after schedule."""
    return [(name, i + 1, chunk) for name, chunks in groups.items()
            for i, chunk in enumerate(chunks)]


def _pid(pid: int) -> types.SimpleNamespace:
    """What raise_session_priority needs of a program: its pid."""
    return types.SimpleNamespace(pid=pid)


def process_tree(root: int) -> list[int]:
    """root and every process descended from it (Chromium's renderers, GPU process, ...)."""
    children: dict[int, list[int]] = {}
    for d in Path("/proc").iterdir():
        if not d.name.isdigit():
            continue
        try:
            stat = (d / "stat").read_text()
        except OSError:
            continue
        ppid = int(stat[stat.rindex(")") + 2:].split()[1])
        children.setdefault(ppid, []).append(int(d.name))
    out, todo = [], [root]
    while todo:
        pid = todo.pop()
        out.append(pid)
        todo += children.get(pid, [])
    return out


def raise_priority(session: harness.Session, pids: Sequence[int]) -> int:
    """The target's processes, the Wine server and Xvfb to the end-to-end tests' priority."""
    return harness.raise_session_priority(session, [_pid(p) for p in pids])


@contextlib.contextmanager
def no_autorepeat(session: harness.Session):
    """X auto-repeat off (a 60 s delay) while the schedules play: a real key held for half a
    second would otherwise repeat in the targets that honour it and not in the others."""
    delay, interval = harness.get_autorepeat(session.display)
    harness.set_autorepeat(session.display, 60000, interval)
    try:
        yield
    finally:
        harness.set_autorepeat(session.display, delay, interval)


def run_typrova(session: harness.Session, exe: Path, groups: Groups, lateness: list[float],
                name: str = "Typrova") -> dict[str, Errors]:
    errors = {g: Errors() for g in groups}
    grid = fields(resource_ids())
    app = session.launch(exe, CAPTION)
    raise_priority(session, [app.pid])
    try:
        for i, (group, number, chunk) in enumerate(_flatten(groups)):
            where = f"{name} {group} password {number}"
            f = grid[i % 2]
            session.focus_field(CAPTION, f.edit)
            report = session.play(script_text(chunk))
            lateness += [e.lateness_ms for e in report]
            time.sleep(0.1)
            ids = [f.edit] + list(f.pressed.values()) + list(f.intervals.values())
            texts = dict(zip(ids, session.texts(CAPTION, ids)))
            typed = final_length(chunk)
            if len(texts[f.edit]) != typed:
                errors[group].faults.append(f"{where}: field holds {len(texts[f.edit])} "
                                            f"characters, {typed} expected")
            compare_slots(parse_table(f, texts), slots_from_times(sent_events(report)),
                          errors[group], where)
            session.click_button(CAPTION, f.clear)
    finally:
        session.close(app)
    return errors


def _play_chunks(session: harness.Session, groups: Groups) -> list[list[Event]]:
    sent = []
    for _, _, chunk in _flatten(groups):
        sent.append(sent_events(session.play(script_text(chunk))))
        time.sleep(0.3)
    session.play(f"0 down {END_MARKER}\n20 up {END_MARKER}\n")
    return sent


def _score_reference(name: str, observed: list[Event], sent: list[list[Event]],
                     groups: Groups) -> dict[str, Errors]:
    errors = {g: Errors() for g in groups}
    flat = _flatten(groups)
    whole = Errors()
    parts = split_observed(observed, [c for _, _, c in flat], whole, name)
    for (group, number, _), part, sent_chunk in zip(flat, parts, sent):
        if part is not None:
            compare_slots(slots_from_times(part), slots_from_times(sent_chunk), errors[group],
                          f"{name} {group} password {number}")
    for e in errors.values():
        e.faults += whole.faults
    return errors


def run_x11(session: harness.Session, tools: Tools, groups: Groups) -> dict[str, Errors]:
    proc = subprocess.Popen([str(tools.xtimes)], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            text=True, env=session.env)
    try:
        raise_priority(session, [proc.pid])
        assert proc.stdout is not None
        first = proc.stdout.readline().split()
        if len(first) != 2 or first[0] != "window":
            raise harness.HarnessError(f"xtimes did not start: {first}")
        session._run(["xdotool", "windowfocus", "--sync", first[1]], timeout=15)
        sent = _play_chunks(session, groups)
        out, _ = proc.communicate(timeout=30)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    observed = []
    for line in out.splitlines():
        t, kind, key = line.split()
        observed.append((float(t), kind == "down", key))
    return _score_reference("X11 client", observed, sent, groups)


def browser_code(key: str) -> str:
    """KeyboardEvent.code of an X keysym name the schedules use."""
    if key in string.ascii_lowercase:
        return "Key" + key.upper()
    if key in string.digits:
        return "Digit" + key
    return {"Shift_L": "ShiftLeft", "Shift_R": "ShiftRight", "space": "Space",
            "period": "Period", "comma": "Comma", "apostrophe": "Quote",
            "semicolon": "Semicolon", "slash": "Slash", "equal": "Equal", "minus": "Minus",
            "BackSpace": "Backspace", "Left": "ArrowLeft", "Right": "ArrowRight",
            "Home": "Home", "End": "End"}[key]


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


def run_browser(session: harness.Session, tools: Tools, groups: Groups) -> dict[str, Errors]:
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
        raise_priority(session, process_tree(proc.pid))
        sent = _play_chunks(session, groups)
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
    codes = {browser_code(k): k for _, _, chunk in _flatten(groups) for _, _, k in chunk}
    observed = [(float(e["t"]), bool(e["down"]), codes.get(e["code"], e["code"]))
                for e in result["events"]]
    return _score_reference("Chromium page", observed, sent, groups)


def vk_key(vk: int) -> str:
    """X keysym name of a Windows virtual-key code the schedule uses."""
    if 0x41 <= vk <= 0x5A:
        return chr(vk).lower()
    if 0x30 <= vk <= 0x39:
        return chr(vk)
    return {0x10: SHIFT}.get(vk, f"vk{vk}")


def run_all(session: harness.Session, tools: Tools, groups: Groups,
            baseline: Optional[Path] = None
            ) -> tuple[dict[str, dict[str, Errors]], list[float]]:
    """Every schedule into every target, the program first (and the baseline program, if
    given, right after it). Returns target -> schedule -> errors, and the injector's lateness
    over the program's run."""
    lateness: list[float] = []
    results: dict[str, dict[str, Errors]] = {}
    raise_priority(session, [])
    with no_autorepeat(session):
        results["Typrova"] = run_typrova(session, tools.typrova, groups, lateness)
        if baseline is not None:
            results["Typrova baseline"] = run_typrova(session, baseline, groups, [],
                                                      "Typrova baseline")
        results["Chromium page"] = run_browser(session, tools, groups)
        results["X11 client"] = run_x11(session, tools, groups)
    return results, lateness


def keystroke_count(chunks: Sequence[Sequence[Event]]) -> int:
    """Character keys pressed over the passwords."""
    return sum(1 for c in chunks for _, d, k in c if d and is_character(k))
