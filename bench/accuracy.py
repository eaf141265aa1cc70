"""Timing accuracy bench: plays fixed schedules of password typing through the key injector
into Typrova under Wine, a bare Win32 window under the same Wine, a keystroke-capture web page
in Chromium and a bare X11 client, one after the other on the same Xvfb, and compares what each
measured with the times the keys were actually sent.

Every target gets the same passwords, each played by its own injector run. Typrova shows one
entry at a time, so after every password the bench reads its 29 labels and clicks "Clear";
passwords alternate between the two fields. All targets are scored by the program's filing
rule, as the end-to-end tests' model (tests/e2e/replay.py) applies it: to the sent times for
what must be shown, and to each reference's own key times for what it measured.

The second schedule is real typing: sentences typed on physical keyboards (the keyboard/ data
set of the real typing folder, whose KEYCODE column holds JavaScript key codes), cut at word
boundaries into passwords of at most 15 characters, every key's recorded press and release
kept (rolled-over keys, Shift, Caps Lock, Backspace, punctuation as typed).
"""

from __future__ import annotations

import collections
import contextlib
import csv
import functools
import itertools
import math
import os
import queue
import random
import re
import shutil
import signal
import string
import subprocess
import sys
import tempfile
import threading
import time
import types
from dataclasses import dataclass, field
from http.server import SimpleHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path
from typing import Iterable, Optional, Sequence

BENCH = Path(__file__).resolve().parent
REPO = BENCH.parent
BUILD = REPO / "build"
TYPROVA = BUILD / "win64" / "app" / "Typrova.exe"
sys.path.insert(0, str(REPO / "tests" / "e2e"))
import harness  # noqa: E402
import replay  # noqa: E402

CAPTION = "Typrova"
DEFAULT_DATA = REPO.parent / "shared" / "realtyping"
SHIFT = "Shift_L"

# --- schedule --------------------------------------------------------------------------------

Event = tuple[float, bool, str]  # (time ms, down, X keysym name)


def make_password(rng: random.Random, shift_rate: float = 0.15,
                  overlap_rate: float = 0.12) -> list[Event]:
    """One password typed by a person: holds 30..250 ms, pauses 20..500 ms (log-normal, as
    measured typing is), some capitals typed with Shift, some keys pressed before the previous
    one is released. Every event is at least 5 ms from the next, so their order is unambiguous
    even at the X server's millisecond resolution."""
    events: list[Event] = []
    last = 60.0              # time of the latest event so far
    prev: Optional[tuple[float, float, bool, str]] = None  # previous key's down, up, shifted, key
    for i in range(replay.MAX_KEYS):
        shifted = rng.random() < shift_rate
        key = rng.choice(string.ascii_lowercase if shifted
                         else string.ascii_lowercase + string.digits)
        hold = min(250, max(30, rng.lognormvariate(math.log(95), 0.35)))
        pause = min(500, max(20, rng.lognormvariate(math.log(140), 0.6)))
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


# --- what the window files, by the end-to-end tests' model --------------------------------------

Slot = tuple[str, int]  # ("pressed" or "interval", key 1..15)


def is_character(key: str) -> bool:
    return replay.typed_character(key, False) is not None


def replayed(events: Iterable[Event]) -> replay.Field:
    """One entry's field after these events, starting empty; the gap to the key event before
    the first one is unknown. Raises ValueError for a key the model cannot follow."""
    model = replay.Model()
    for t, d, k in events:
        model.key(replay.ENTERED, t, d, k)
    return model.fields[replay.ENTERED]


def filed(events: Sequence[Event]) -> dict[Slot, float]:
    """What one entry's table shows after these events: slot -> value, 0.0 where nothing was
    filed, NaN where the value depends on the unknown gap before the first event."""
    entry = replayed(events)
    return {(kind, k): entry.slots[kind][k].ms for _, kind, k in replay.grid(replay.ENTERED)}


# --- real typing: the keyboard/ data set -------------------------------------------------------

# JavaScript key codes (the data set's KEYCODE; Windows' virtual-key codes have the same
# numbers) and the X keysym of the key that plays each. Letters and punctuation name the
# unshifted key: Shift and Caps Lock are keys of their own in the data set, played as typed.
JS_KEYS = {8: "BackSpace", 12: "KP_Begin", 16: "Shift_L", 19: "Pause", 20: "Caps_Lock",
           32: "space", 33: "Prior", 34: "Next", 35: "End", 36: "Home", 37: "Left", 38: "Up",
           39: "Right", 40: "Down", 45: "Insert", 46: "Delete", 106: "KP_Multiply",
           107: "KP_Add", 109: "KP_Subtract", 111: "KP_Divide", 144: "Num_Lock",
           145: "Scroll_Lock", 186: "semicolon", 187: "equal", 188: "comma", 189: "minus",
           190: "period", 191: "slash", 192: "grave", 219: "bracketleft", 220: "backslash",
           221: "bracketright", 222: "apostrophe", 226: "less",
           **{c: chr(c) for c in range(48, 58)}, **{c: chr(c).lower() for c in range(65, 91)}}
# Other codes of the same keys: Firefox's codes of ; = -, and the keypad's digits and decimal
# point, which type the same characters as the main row's (the recording does not say whether
# Num Lock was on, without which the keypad moves the caret instead).
JS_ALIASES = {59: 186, 61: 187, 173: 189, 110: 190, **{96 + d: 48 + d for d in range(10)}}
# Keys that take the keyboard from the field (Tab, Alt, the function keys, the Windows keys,
# the menu key), close the window (Enter, Escape), turn the next key into a command (Control)
# or reach the field as a release alone (Print Screen): a password ends where one is pressed,
# and neither it nor a key pressed while it is held is played.
JS_ENDS_ENTRY = {9, 13, 17, 18, 27, 44, 91, 92, 93, *range(112, 136)}
KEY_CODES = {**{k: c for c, k in JS_KEYS.items()}, "Shift_R": 16}


@dataclass(frozen=True)
class Keystroke:
    press: float    # ms
    release: float
    key: str        # X keysym; "" for a key that ends the password


def read_keyboard(path: Path, skipped: collections.Counter) -> list[list[Keystroke]]:
    """The sentences of one person's keystroke file, each a list of keystrokes in the order of
    their presses. The file repeats some sentences' rows; a keystroke (sentence and keystroke
    id) is taken once. A code that names no key is left out and counted in `skipped`."""
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
            # One row of 102_keystrokes.txt runs on into the next row's text; its own
            # fields, the code's leading digits included, are whole.
            digits = re.match(r"\d+", row["KEYCODE"] or "")
            code = int(digits.group()) if digits else -1
            code = JS_ALIASES.get(code, code)
            key = "" if code in JS_ENDS_ENTRY else JS_KEYS.get(code)
            if key is None:
                skipped[f"keys with code {code}, which no key types"] += 1
                continue
            sentences.setdefault(row["TEST_SECTION_ID"], []).append(Keystroke(press, release, key))
    return [sorted(ks, key=lambda k: k.press) for ks in sentences.values()]


def _fits(keystrokes: Sequence[Keystroke]) -> bool:
    """Whether the text, each key typed on its own, stays within the 15 keys the window times."""
    model = replay.Model()
    for k in keystrokes:
        model.key(replay.ENTERED, k.press, True, k.key)
        model.key(replay.ENTERED, k.release, False, k.key)
        if len(model.fields[replay.ENTERED].text) > replay.MAX_KEYS:
            return False
    return True


def cut_passwords(sentence: Sequence[Keystroke],
                  skipped: collections.Counter) -> list[list[Keystroke]]:
    """Cuts a typed sentence into passwords: where a key ends the entry (that key and those
    pressed while it is held are dropped, and counted), and where the text would grow past
    the 15 characters the window times: after the last space before that key, or, in a word
    too long on its own, right before the key."""
    out: list[list[Keystroke]] = []
    current: list[Keystroke] = []
    held_until = -math.inf
    for k in sentence:
        if not k.key or k.press <= held_until:
            skipped["keys that leave the field or close the window (a password ends there)"] += 1
            if not k.key:
                held_until = max(held_until, k.release)
            if current:
                out.append(current)
            current = []
            continue
        current.append(k)
        if not _fits(current):
            spaces = [i for i, s in enumerate(current[:-1], 1) if s.key == "space"]
            cut = spaces[-1] if spaces and _fits(current[spaces[-1]:]) else -1
            out.append(current[:cut])
            current = current[cut:]
    if current:
        out.append(current)
    return out


def password_events(keystrokes: Sequence[Keystroke],
                    rng: Optional[random.Random] = None) -> Optional[list[Event]]:
    """The presses and releases of a run of keystrokes, first press at 60 ms. At equal times
    a release goes first (a key may be pressed again the moment it is up). A second Shift held
    with the first is the right one. None if a key is pressed while it is still down.

    The data set's times are whole milliseconds, as is the X server's clock: played as they
    are, the references that time keys by that clock would see every gap exactly. With rng,
    every event is moved to a random point of its own millisecond (the recording cannot tell
    where in it the key really went), the order of events within one millisecond kept."""
    origin = keystrokes[0].press - 60.0
    raw: list[tuple[float, int, int, str]] = []  # time, 0 release / 1 press, order, key
    for i, k in enumerate(keystrokes):
        raw += [(k.press - origin, 1, i, k.key), (k.release - origin, 0, i, k.key)]
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
            if key == SHIFT and SHIFT in held.values():
                key = "Shift_R"
            if key in held.values():
                return None
            held[i] = key
        else:
            key = held.pop(i)
        events.append((round(t, 3), bool(down), key))
    return events


def real_schedule(data: Path = DEFAULT_DATA,
                  passwords: int = 40) -> tuple[list[list[Event]], collections.Counter]:
    """Passwords cut from every person's sentences, taken in turn from each person in the order
    they were typed; `passwords` of them (0: all). Runs that file nothing, or that cannot be
    played as typed (a key pressed twice at once, Shift with a caret key, Delete or Insert,
    which select, cut or paste), are left out and counted: the second value maps each reason
    to its count. A fixed seed places the events within their milliseconds."""
    rng = random.Random(20261209)
    skipped: collections.Counter = collections.Counter()
    per_person = []
    for path in sorted((data / "keyboard").glob("*_keystrokes.txt")):
        runs = []
        for sentence in read_keyboard(path, skipped):
            for cut in cut_passwords(sentence, skipped):
                events = password_events(cut, rng=rng)
                try:
                    if events is None or not any(filed(events).values()):
                        raise ValueError
                except ValueError:
                    skipped["passwords that cannot be played as typed or file nothing"] += 1
                    continue
                runs.append(events)
        per_person.append(runs)
    if not per_person:
        raise FileNotFoundError(f"no keystroke files in {data / 'keyboard'}")
    chunks = [run for turn in itertools.zip_longest(*per_person) for run in turn if run]
    return (chunks if passwords <= 0 else chunks[:passwords]), skipped


def plain_slots(events: Sequence[Event]) -> dict[Slot, float]:
    """The data set's plain reading: for the k-th character key, its own hold and the pause
    from the release of the character key before it (negative when they overlap)."""
    times: list[list[float]] = []  # [press, release] of each character key, in press order
    held: dict[str, int] = {}       # key -> its index in times while it is down
    for t, down, key in (e for e in events if is_character(e[2])):
        if down:
            held[key] = len(times)
            times.append([t, math.nan])
        else:
            times[held.pop(key)][1] = t
    slots: dict[Slot, float] = {}
    for k, (press, release) in enumerate(times[:replay.MAX_KEYS], 1):
        slots[("pressed", k)] = release - press
        if k > 1:
            slots[("interval", k)] = press - times[k - 2][1]
    return slots


def count_refiled(chunks: Sequence[Sequence[Event]]) -> tuple[int, int]:
    """(values shown, of them different from the plain reading) over the passwords, at the
    window's two decimals, counting every slot that either reading fills."""
    shown = differ = 0
    for events in chunks:
        plain = plain_slots(events)
        for slot, value in filed(events).items():
            a = None if value == 0.0 or math.isnan(value) else value
            b = plain.get(slot)
            if a is None and b is None:
                continue
            shown += 1
            differ += f"{a or 0.0:.2f}" != f"{b or 0.0:.2f}"
    return shown, differ


# --- matching what a target measured with what was sent ----------------------------------------

@dataclass
class Errors:
    """Signed errors (measured - sent) in ms, per kind, plus faults found while matching."""
    pressed: list[float] = field(default_factory=list)
    interval: list[float] = field(default_factory=list)
    faults: list[str] = field(default_factory=list)


def compare_slots(measured: dict[Slot, float], sent: dict[Slot, float], errors: Errors,
                  where: str) -> None:
    """Adds the error of every value the sent times file. A slot must stay empty (0.0) where
    they file nothing; a value that depends on an unknown gap (NaN) is not compared. A filed
    value may be measured as 0.0: two events within one millisecond of the X server's clock."""
    for (kind, k), want in sorted(sent.items()):
        got = measured[(kind, k)]
        if math.isnan(want):
            continue
        if want == 0.0:
            if got != 0.0:
                errors.faults.append(f"{where}: {kind} {k} shows {got} where nothing was typed")
        else:
            (errors.pressed if kind == "pressed" else errors.interval).append(got - want)


def split_observed(observed: Sequence[Event], sent: Sequence[Sequence[Event]],
                   same_key=lambda key: key) -> tuple[list[list[Event] | str], str]:
    """Cuts a reference's continuous record into the passwords that were sent, checking that
    every event arrived, in order, with the key that was sent (same_key: the sent key as the
    reference names it). Returns, per password, the reference's times with the keys as sent,
    or where its record differs from them; and how many events the record has too many or too
    few ("" when neither)."""
    parts: list[list[Event] | str] = []
    pos = 0
    for chunk in sent:
        part = observed[pos:pos + len(chunk)]
        pos += len(chunk)
        got = [(d, k) for _, d, k in part]
        want = [(d, same_key(k)) for _, d, k in chunk]
        at = next((j for j, (g, w) in enumerate(zip(got, want)) if g != w), len(got))
        parts.append([(t, d, k) for (t, _, _), (_, d, k) in zip(part, chunk)] if got == want
                     else f"event {at + 1} is {got[at:at + 3]}..., sent {want[at:at + 3]}...")
    extra = len(observed) - pos
    return parts, (f"{extra} extra events recorded" if extra > 0
                   else f"{-extra} events missing" if extra < 0 else "")


# --- the targets -------------------------------------------------------------------------------

def sent_events(report: Sequence[harness.KeyEvent]) -> list[Event]:
    return [(e.sent_ms if e.sent_ms is not None else math.nan, e.down, e.key) for e in report]


Groups = dict[str, Sequence[Sequence[Event]]]  # schedule name -> its passwords


def _flatten(groups: Groups) -> list[tuple[str, int, Sequence[Event]]]:
    """(schedule, password number, events) of every password, schedule after schedule."""
    return [(name, i + 1, chunk) for name, chunks in groups.items()
            for i, chunk in enumerate(chunks)]


def run_typrova(session: harness.Session, exe: Path, groups: Groups, lateness: list[float],
                name: str = "Typrova") -> dict[str, Errors]:
    errors = {g: Errors() for g in groups}
    app = session.launch(exe, CAPTION)
    harness.raise_session_priority(session, [app])
    try:
        for i, (group, number, chunk) in enumerate(_flatten(groups)):
            where = f"{name} {group} password {number}"
            fld = (replay.ENTERED, replay.REENTERED)[i % 2]
            session.focus_field(CAPTION, fld)
            report = session.play([harness.KeyEvent(*e) for e in chunk])
            lateness += [e.lateness_ms for e in report]
            time.sleep(0.1)
            grid = replay.grid(fld)
            texts = session.texts(CAPTION, [fld] + [cid for cid, _, _ in grid])
            length = len(replayed(chunk).text)
            if len(texts[0]) != length:
                errors[group].faults.append(f"{where}: field holds {len(texts[0])} "
                                            f"characters, {length} expected")
            shown = {(kind, k): float(text) for (_, kind, k), text in zip(grid, texts[1:])}
            compare_slots(shown, filed(sent_events(report)), errors[group], where)
            session.click_button(CAPTION, replay.CLEAR_BUTTON[fld])
    finally:
        session.close(app)
    return errors


def key_code(key: str) -> str:
    """A sent keysym as the references that report key codes name it."""
    return str(KEY_CODES[key])


def run_reference(session: harness.Session, groups: Groups, name: str, argv: Sequence[str],
                  caption: str, click: tuple[int, int], same_key=lambda key: key,
                  ready=lambda: None, record=None) -> dict[str, Errors]:
    """Plays every password, then the end marker (Escape), into a program that times keys itself:
    starts it, gives its window the keyboard and a click at `click`, and reads back its record,
    one "<ms> <down|up> <key>" line per event, from its output (or from record()).
    same_key: a sent keysym as the reference names it."""
    proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, text=True, env=session.env,
                            start_new_session=True)
    try:
        deadline = time.monotonic() + 60
        while True:  # the window is there once the program, or the page, has loaded
            try:
                session.focus_window(caption)
                break
            except harness.HarnessError:
                if time.monotonic() > deadline or proc.poll() is not None:
                    raise
                time.sleep(0.2)
        session.click_at(*click)
        ready()
        # The target and every process it started (Chromium's renderers, GPU process, ...):
        # the session it was started in, to the end-to-end tests' priority with the Wine server
        # and Xvfb (the harness reads only each program's pid).
        started = subprocess.run(["pgrep", "-s", str(proc.pid)], capture_output=True, text=True)
        harness.raise_session_priority(
            session, [types.SimpleNamespace(pid=int(pid)) for pid in started.stdout.split()])
        sent = []
        for _, _, chunk in _flatten(groups):
            sent.append(sent_events(session.play([harness.KeyEvent(*e) for e in chunk])))
            time.sleep(0.3)
        session.play("0 down Escape\n20 up Escape\n")
        text = record() if record else proc.communicate(timeout=30)[0]
        if not record and proc.returncode != 0:
            raise harness.HarnessError(f"{name} exited with {proc.returncode}")
    finally:
        if proc.poll() is None:
            with contextlib.suppress(ProcessLookupError):
                os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()
    observed = [(float(t), kind == "down", key) for t, kind, key in map(str.split,
                                                                        text.splitlines())]
    errors = {g: Errors() for g in groups}
    flat = _flatten(groups)
    parts, rest = split_observed(observed, sent, same_key)
    for (group, number, _), part, sent_chunk in zip(flat, parts, sent):
        where = f"{name} {group} password {number}"
        if isinstance(part, str):
            errors[group].faults.append(f"{where}: {part}")
        else:
            compare_slots(filed(part), filed(sent_chunk), errors[group], where)
    if rest:  # the end of the record, so the last schedule's
        errors[flat[-1][0]].faults.append(f"{name}: {rest}")
    return errors


class _PageHandler(SimpleHTTPRequestHandler):
    """Serves the page to this machine and queues what the page posts."""

    def do_GET(self):  # noqa: N802 (http.server's naming)
        if self.path != "/keypage.html":
            self.send_error(404)  # nothing else of bench/ is served
        else:
            super().do_GET()

    def do_POST(self):  # noqa: N802
        body = self.rfile.read(int(self.headers.get("Content-Length", "0"))).decode()
        self.send_response(204)
        self.end_headers()
        self.server.posts.put((self.path, body))  # type: ignore[attr-defined]

    def log_message(self, *args):
        pass


def run_browser(session: harness.Session, groups: Groups) -> dict[str, Errors]:
    chromium = shutil.which("chromium")
    if not chromium:
        raise harness.HarnessError("chromium is not installed")
    server = ThreadingHTTPServer(("127.0.0.1", 0),
                                 functools.partial(_PageHandler, directory=str(BENCH)))
    server.daemon_threads = True
    server.posts = queue.Queue()  # type: ignore[attr-defined]
    threading.Thread(target=server.serve_forever, daemon=True).start()

    def wait_for(path: str, timeout: float, failure: str) -> str:
        try:
            while True:
                got, body = server.posts.get(timeout=timeout)  # type: ignore[attr-defined]
                if got == path:
                    return body
        except queue.Empty:
            raise harness.HarnessError(failure) from None

    url = f"http://127.0.0.1:{server.server_address[1]}/keypage.html"
    try:
        with tempfile.TemporaryDirectory(prefix="typrova-bench-chromium.",
                                         ignore_cleanup_errors=True) as profile:
            argv = [chromium, "--no-first-run", "--disable-background-networking",
                    "--disable-component-update", "--disable-sync", "--disable-quic",
                    "--no-default-browser-check", "--no-sandbox", f"--user-data-dir={profile}",
                    "--window-position=0,0", "--window-size=800,600", f"--app={url}"]
            # Chromium gives the extra key of an ISO keyboard (< >, beside the left Shift) the
            # code of the backslash key, 220, where Windows has 226.
            return run_reference(
                session, groups, "Chromium page", argv, "keystroke capture reference", (400, 300),
                lambda key: "220" if key == "less" else key_code(key),
                ready=lambda: wait_for("/focus", 10, "the page did not get the keyboard"),
                record=lambda: wait_for("/result", 30, "the page sent no result"))
    finally:
        server.shutdown()
        server.server_close()


def run_all(session: harness.Session, groups: Groups, baseline: Optional[Path] = None
            ) -> tuple[dict[str, dict[str, Errors]], list[float]]:
    """Every schedule into every target, the program first (and the baseline program, if
    given, right after it), then the references. Returns target -> schedule -> errors, and
    the injector's lateness over the program's run."""
    lateness: list[float] = []
    targets = [("Typrova", lambda: run_typrova(session, TYPROVA, groups, lateness))]
    if baseline is not None:
        targets.append(("Typrova baseline", lambda: run_typrova(session, baseline, groups, [],
                                                                "Typrova baseline")))
    bare_window = [session.env["WINE"], str(BUILD / "win64/bench/bare_window.exe")]
    # bare_window opens at 0,0, 320 x 160; the page's window is 800 x 600: a click in the
    # middle gives each the keyboard.
    targets += [("Win32 window", lambda: run_reference(
                    session, groups, "Win32 window", bare_window, "Bare key window", (160, 80),
                    key_code)),
                ("Chromium page", lambda: run_browser(session, groups)),
                ("X11 client", lambda: run_reference(
                    session, groups, "X11 client", [str(BUILD / "native/bench/xtimes")],
                    "xtimes key timer", (160, 60)))]
    results: dict[str, dict[str, Errors]] = {}
    # Auto-repeat off (a 60 s delay): a real key held for half a second would otherwise repeat
    # in the targets that honour it and not in the others. The display is the session's own
    # Xvfb, which ends with it, so nothing is restored.
    harness.set_autorepeat(session.display, 60000, harness.get_autorepeat(session.display)[1])
    for name, run in targets:
        # A target that fails is a fault of the step; the others are still measured.
        try:
            results[name] = run()
        except (harness.HarnessError, subprocess.SubprocessError, OSError, ValueError) as e:
            results[name] = {g: Errors(faults=[f"{name} failed: {e}"]) for g in groups}
    return results, lateness


def keystroke_count(chunks: Sequence[Sequence[Event]]) -> int:
    """Character keys pressed over the passwords."""
    return sum(1 for c in chunks for _, d, k in c if d and is_character(k))
