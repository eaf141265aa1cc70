"""What Typrova's window should show after a stream of key events: replays the events through
the program's timing rules (one clock shared by both fields, gap and previous gap, the slot is
the field's text length at the release), and bounds the score the program may show for the
tables it shows, with the program's own scoring (score_tool, built from timing/). No Wine; the
one filing model of the end-to-end suites (through driver.py) and the accuracy benchmark, which
turn injector send times into expected labels with it. Control identifiers are read from
res/resource.h.
"""

from __future__ import annotations

import math
import re
import subprocess
from dataclasses import dataclass, field
from pathlib import Path
from typing import Iterable, NamedTuple, Optional, Sequence

from harness import SCORE_TOOL

REPO = Path(__file__).resolve().parents[2]


def resource_ids(path: Path = REPO / "res" / "resource.h") -> dict[str, int]:
    """Every numeric #define of the identifiers header, by name."""
    return {m.group(1): int(m.group(2), 0) for m in
            re.finditer(r"^#define\s+(\w+)\s+(0x[0-9a-fA-F]+|\d+)\b", path.read_text(), re.M)}


IDS = resource_ids()
ENTERED, REENTERED = IDS["IDC_ENTERED"], IDS["IDC_REENTERED"]
CLEAR_BUTTON = {ENTERED: IDS["IDC_CLEAR_ENTERED"], REENTERED: IDS["IDC_CLEAR_REENTERED"]}
SCORE_LABEL, VERDICT_LABEL = IDS["IDC_SCORE"], IDS["IDC_VERDICT"]
THRESHOLD_LABEL, SLIDER = IDS["IDC_THRESHOLD_VALUE"], IDS["IDC_THRESHOLD"]
_ENTRY = {ENTERED: "ENTERED", REENTERED: "REENTERED"}
MAX_KEYS = 15
UNKNOWN = math.nan


def interval_label(fld: int, key: int) -> Optional[int]:
    """Label of the Interval of key 2..15 (key 1 has none)."""
    return IDS.get(f"IDC_{_ENTRY[fld]}_INTERVAL{key}") if 2 <= key <= MAX_KEYS else None


def pressed_label(fld: int, key: int) -> int:
    """Label of the Pressed time of key 1..15."""
    if not 1 <= key <= MAX_KEYS:
        raise ValueError(key)
    return IDS[f"IDC_{_ENTRY[fld]}_PRESSED{key}"]


def grid(fld: int) -> list[tuple[int, str, int]]:
    """(label id, "pressed" or "interval", key) of the 29 value labels of one entry's table."""
    return ([(pressed_label(fld, k), "pressed", k) for k in range(1, MAX_KEYS + 1)] +
            [(interval_label(fld, k), "interval", k) for k in range(2, MAX_KEYS + 1)])  # type: ignore[misc]


# What the keys beyond letters and digits type on the US layout of the test sessions, without
# and with Shift.
_SHIFTED_DIGITS = dict(zip("1234567890", "!@#$%^&*()"))
_US_CHARACTERS = {"space": "  ", "grave": "`~", "minus": "-_", "equal": "=+",
                  "bracketleft": "[{", "bracketright": "]}", "backslash": "\\|",
                  "semicolon": ";:", "apostrophe": "'\"", "comma": ",<", "period": ".>",
                  "slash": "/?", "less": "<>", "KP_Multiply": "**", "KP_Add": "++",
                  "KP_Subtract": "--", "KP_Divide": "//"}
# Keys that neither type nor move the caret in a one-line field: they only stamp the clock.
STAMP_ONLY_KEYS = {"Caps_Lock", "Num_Lock", "Scroll_Lock", "Pause", "Insert", "Prior", "Next",
                   "KP_Begin"}


def typed_character(key: str, shift: bool, caps: bool = False) -> Optional[str]:
    """The character a key types on a US keyboard (Caps Lock flips letters only); None for a
    key that types none."""
    if len(key) == 1 and key.isalpha():
        return key.upper() if shift != caps else key.lower()
    if len(key) == 1 and key.isdigit():
        return _SHIFTED_DIGITS[key] if shift else key
    if key in _US_CHARACTERS:
        return _US_CHARACTERS[key][shift]
    return None


MODIFIERS = {"Shift_L", "Shift_R"}
CARET_KEYS = {"Left", "Right", "Home", "End"}


class Slot(NamedTuple):
    """One stored value: the gap in ms; how far it may be off beyond the usual delivery jitter
    because an event it depends on was not sent by the injector (an X auto-repeat); and whether
    the event it is measured from, and the one it is measured to, was a press. An event that
    reaches the program late shortens the value measured from it and lengthens the value
    measured to it, and presses come later than releases."""
    ms: float = 0.0
    err: float = 0.0
    ends: tuple[bool, bool] = (False, False)


@dataclass
class Field:
    text: str = ""
    caret: int = 0
    # The stored values of keys 1..15, by kind ("interval", "pressed").
    slots: dict = field(default_factory=lambda: {kind: [Slot()] * (MAX_KEYS + 1)
                                                 for kind in ("interval", "pressed")})


class Model:
    """The window's state as the program should hold it.

    Times are the injector's send times in ms. Gaps across two separate injector runs are not
    known (each run has its own time origin): call break_clock() between runs, and values that
    depend on such a gap become UNKNOWN (NaN) and are not compared. The first key after the
    window gets the keyboard is often delivered late under Wine, so play() treats the first
    event of a run as a warm-up whose time is not trusted either. Keys must not be pressed
    with Shift held unless they are letters, digits or Shift (Shift+arrows would select text).
    """

    def __init__(self, threshold_pos: int = 5000):
        self.fields = {ENTERED: Field(), REENTERED: Field()}
        self.last_ms: Optional[float] = None     # time of the most recent key event
        self.last_err = 0.0                       # how far that time may be off
        self.gap = self.previous_gap = Slot(UNKNOWN)
        self.shift_down: set[str] = set()
        self.caps = False                         # Caps Lock, toggled by its key presses
        self.threshold_pos = threshold_pos        # the slider's position now
        self.eval_n: Optional[int] = None         # text length scored by the last evaluation
        self.eval_threshold = threshold_pos / 100.0   # the threshold (%) it compared with
        self.stores = 0

    # --- input ----------------------------------------------------------------------------

    def break_clock(self) -> None:
        """The next key event's gap is unknown (it comes from another injector run)."""
        self.last_ms = None

    def stamp(self, t_ms: float, err_ms: float = 0.0, down: bool = False) -> None:
        ends = (self.gap.ends[1], down)          # gap.ends[1]: the last event was a press
        self.previous_gap = self.gap
        if self.last_ms is None or math.isinf(err_ms) or math.isinf(self.last_err):
            self.gap = Slot(UNKNOWN, 0.0, ends)
        else:
            self.gap = Slot(t_ms - self.last_ms, self.last_err + err_ms, ends)
        self.last_ms, self.last_err = t_ms, err_ms

    def key(self, fld: int, t_ms: float, down: bool, key: str, err_ms: float = 0.0) -> None:
        """One key event delivered to field fld at time t_ms (ms). err_ms: how far t_ms may be
        off (an auto-repeat's scheduled time); math.inf: the time is not known at all."""
        f = self.fields[fld]
        if down:
            # In a one-line field Up and Down move the caret as Left and Right do.
            key = {"Up": "Left", "Down": "Right"}.get(key, key)
            if key in MODIFIERS:
                self.shift_down.add(key)
            elif key in CARET_KEYS:
                if self.shift_down:
                    raise ValueError("Shift+arrow selects text; not modelled")
                f.caret = {"Left": max(0, f.caret - 1), "Right": min(len(f.text), f.caret + 1),
                           "Home": 0, "End": len(f.text)}[key]
            elif key in ("Delete", "Insert") and self.shift_down:
                raise ValueError(f"Shift+{key} cuts or pastes; not modelled")
            elif key == "BackSpace":      # with or without Shift: the character before the caret
                if f.caret > 0:
                    f.text = f.text[: f.caret - 1] + f.text[f.caret:]
                    f.caret -= 1
            elif key == "Delete":
                f.text = f.text[: f.caret] + f.text[f.caret + 1:]
            elif key == "Caps_Lock":
                self.caps = not self.caps
            elif key not in STAMP_ONLY_KEYS:
                ch = typed_character(key, bool(self.shift_down), self.caps)
                if ch is None:
                    raise ValueError(f"key {key!r} is not modelled")
                f.text = f.text[: f.caret] + ch + f.text[f.caret:]
                f.caret += 1
            self.stamp(t_ms, err_ms, down=True)
            return
        self.shift_down.discard(key)
        self.stamp(t_ms, err_ms)
        length = len(f.text.encode("latin-1"))
        if 1 <= length <= MAX_KEYS:
            f.slots["interval"][length] = self.previous_gap
            f.slots["pressed"][length] = self.gap
            self.stores += 1
            self.evaluate()

    def play(self, fld: int, events: Iterable, new_run: bool = True) -> None:
        """Replays injector-reported events (objects with sent_ms, down, key and optionally
        err_ms), in send order. new_run: the events come from a new injector run, so the first
        gap is unknown and the first event's time is not trusted."""
        if new_run:
            self.break_clock()
        first = new_run
        for e in events:
            if e.sent_ms is None:
                raise ValueError(f"event {e} was not sent")
            err = math.inf if first else getattr(e, "err_ms", 0.0)
            self.key(fld, e.sent_ms, e.down, e.key, err)
            first = False

    def clear(self, fld: int) -> None:
        """The field's "Clear" button: text and table emptied, the clock untouched."""
        self.fields[fld] = Field()
        self.evaluate()

    def set_slider(self, pos: int) -> None:
        """The slider moved: only the threshold label follows; the verdict waits."""
        self.threshold_pos = pos

    # --- output ---------------------------------------------------------------------------

    def evaluate(self) -> None:
        """A key release that stored, or a clear: the result box is worked out again (scored
        when the texts are equal and not empty), with the slider where it is now."""
        e, r = self.fields[ENTERED], self.fields[REENTERED]
        self.eval_n = len(e.text) if e.text and e.text == r.text else None
        self.eval_threshold = self.threshold_pos / 100.0

    def slots(self) -> dict[int, Slot]:
        """The stored value behind each of the 58 value labels."""
        return {cid: f.slots[kind][k]
                for fld, f in self.fields.items() for cid, kind, k in grid(fld)}

    def labels(self) -> dict[int, float]:
        """Expected value of all 58 value labels (NaN: not predictable from the events)."""
        return {cid: slot.ms for cid, slot in self.slots().items()}

    def compare(self, shown: dict[int, str], tol_ms: float, late_ms: float,
                lag_ms: tuple[float, float] = (0.0, 0.0)) -> "Comparison":
        """Checks shown label texts against the expected values. A value never stored must read
        exactly "0.00"; an unknown one is skipped; any other must be within tol_ms (plus its
        own extra tolerance) of its expected value, or of what events that reached the program
        late make of it: presses up to lag_ms[0], releases up to lag_ms[1] (Slot.ends). A
        value off by more than that is listed as "late" (maybe an event that reached the program
        late), past late_ms more as "very late" (maybe a stall of the whole machine);
        driver.Misses judges both. A text that is no finite number, or not "0.00" where nothing
        was stored, is "bad". Comparison.pairs: each key's Interval and Pressed error together.
        """
        res = Comparison()
        late_by = {True: lag_ms[0], False: lag_ms[1]}
        slots = self.slots()
        for cid, (want, err, ends) in slots.items():
            text = shown[cid]
            try:
                got = float(text)
            except ValueError:
                got = math.nan
            if not math.isfinite(got):       # "nan" would pass every comparison below
                res.bad.append((cid, text, want))
                continue
            if math.isnan(want):
                res.skipped += 1
                continue
            if want == 0.0 and err == 0.0:
                if text != "0.00":
                    res.bad.append((cid, text, want))
                continue
            # The distance from what late events can make of the value.
            lo, hi = want - late_by[ends[0]], want + late_by[ends[1]]
            diff = max(lo - got, got - hi, 0.0)
            res.compared += 1
            res.values.append((cid, text, want))
            if err == 0.0:
                res.max_diff = max(res.max_diff, abs(got - want))
                if diff <= tol_ms:
                    res.timed.append((cid, text, want))
            if diff > tol_ms + err + late_ms:
                res.very_late.append((cid, text, want))
            elif diff > tol_ms + err:
                res.late.append((cid, text, want))
        # A key's Interval and Pressed are consecutive gaps: a press between them that came
        # late moves them by as much in opposite ways. Where the Interval starts at a release
        # (the Pressed always ends at one), their errors add up to no more than how late those
        # two releases came, and to any bias of every value: a Pressed that misses with them
        # misses, and their mean error is the bias check's (driver.Record).
        errors = {cid: float(text) - want for cid, text, want in res.values
                  if not slots[cid].err}
        timed = {cid for cid, _, _ in res.timed}
        missed = {v[0] for v in res.missed}
        for fld in self.fields:
            for k in range(2, MAX_KEYS + 1):
                i, p = interval_label(fld, k), pressed_label(fld, k)
                if i not in errors or p not in errors or slots[i].ends[0]:
                    continue
                if abs(errors[i] + errors[p]) > tol_ms + lag_ms[1] and p not in missed:
                    res.late.append((p, shown[p], slots[p].ms))
                elif i in timed and p in timed:
                    res.pairs[(i, shown[i], p, shown[p])] = (errors[i] + errors[p]) / 2
        return res


@dataclass
class Comparison:
    compared: int = 0          # values checked against a timing
    skipped: int = 0           # values that depend on an unknown gap
    max_diff: float = 0.0      # largest |shown - expected| over injector-timed values
    bad: list = field(default_factory=list)   # (label id, shown text, expected): wrong
    late: list = field(default_factory=list)  # the same, off by a plausible delivery delay
    very_late: list = field(default_factory=list)  # the same, off by more than late_ms
    values: list = field(default_factory=list)  # the same, every value compared with a timing
    timed: list = field(default_factory=list)   # the same, injector-timed and within tolerance
    pairs: dict = field(default_factory=dict)   # (labels and texts): a key's mean error, ms

    @property
    def missed(self) -> list:
        """The values off by a delivery delay, small or large."""
        return self.late + self.very_late

    def describe(self) -> str:
        rows = [f"  label {cid}: shown {text!r}, expected {want:.3f}{tag}"
                for rows_, tag in ((self.bad, ""), (self.very_late, " (very late?)"),
                                   (self.late, " (late?)"))
                for cid, text, want in rows_]
        return (f"{len(rows)} label(s) off (compared {self.compared}, "
                f"skipped {self.skipped}):\n" + "\n".join(rows))


def _pairs(n: int, ie, pe, ir, pr) -> list[tuple[float, float]]:
    """The (entered, re-entered) pairs of values a score over keys 1..n reads, interval terms
    first per key; key 1 has no interval."""
    out = []
    for i in range(1, min(n, MAX_KEYS) + 1):
        if i >= 2:
            out.append((ie[i], ir[i]))
        out.append((pe[i], pr[i]))
    return out


def _tables(pairs: Sequence[tuple[float, float]]) -> tuple[int, list, list, list, list]:
    """The inverse of _pairs: key count and the four tables that hold these pairs."""
    n = (len(pairs) + 2) // 2
    ie, pe, ir, pr = ([0.0] * (MAX_KEYS + 1) for _ in range(4))
    it = iter(pairs)
    for i in range(1, n + 1):
        if i >= 2:
            ie[i], ir[i] = next(it, (0.0, 0.0))
        pe[i], pr[i] = next(it, (0.0, 0.0))
    return n, ie, pe, ir, pr


def similarities(queries: Sequence[tuple]) -> list[float]:
    """Similarity in [0, 1] for each (n, entered intervals, entered pressed, re-entered
    intervals, re-entered pressed; 16 values each) over keys 1..n, as the program's own code
    works it out; NaN when nothing is measured."""
    if not SCORE_TOOL.is_file():
        raise FileNotFoundError(f"score tool not built: {SCORE_TOOL} (build the native preset)")
    lines = []
    for n, *tables in queries:
        lines += [str(n)] + [" ".join(repr(float(v)) for v in t) for t in tables]
    r = subprocess.run([str(SCORE_TOOL)], input="\n".join(lines) + "\n", capture_output=True,
                       text=True, check=True, timeout=60)
    out = [float(line) / 100.0 for line in r.stdout.splitlines()]
    if len(out) != len(queries):
        raise RuntimeError(f"score tool answered {len(out)} of {len(queries)} queries")
    return out


def _extreme_pair(a: float, b: float, err: float, worst: bool) -> tuple[float, float]:
    """Values within err of a and b (a value never below 0; an exact 0 stays 0, since it is a
    slot that was not stored) that give this pair its largest (worst) or smallest mismatch.
    The score falls as a pair's truncated difference over its mean grows and never rises
    with it, pair by pair, so the extreme tables of all pairs bound the score."""
    ranges = [(v, v) if v == 0.0 else (max(v - err, 0.0), v + err) for v in (a, b)]
    best_pair, best_key = (a, b), None
    for hi, lo in ((0, 1), (1, 0)):                  # which of the two is the larger
        (h_lo, h_hi), (l_lo, l_hi) = ranges[hi], ranges[lo]
        if h_hi < l_lo:
            continue
        d_min, d_max = max(h_lo - l_hi, 0.0), h_hi - l_lo
        for j in range(math.trunc(d_min), math.trunc(d_max) + 1):
            if worst:   # difference at least j, mean as small as it can be
                low = l_lo
                high = max(h_lo, low + j + 1e-9)
            else:       # difference below j + 1, mean as large as it can be
                low = l_hi
                high = min(h_hi, low + j + 1 - 1e-9)
            if high < h_lo or high > h_hi or high < low:
                continue
            mean = (high + low) / 2.0
            if mean <= 0.0:
                continue
            key = math.trunc(high - low) / mean
            if best_key is None or (key > best_key if worst else key < best_key):
                pair = [0.0, 0.0]
                pair[hi], pair[lo] = high, low
                best_pair, best_key = (pair[0], pair[1]), key
    return best_pair


def similarity_bounds(pairs: Sequence[tuple[float, float]], err_ms: float) -> tuple[float, float]:
    """Smallest and largest similarity when every value may be off by up to err_ms."""
    lo, hi = similarities([_tables([_extreme_pair(a, b, err_ms, worst) for a, b in pairs])
                           for worst in (True, False)])
    return lo, hi


def score_bounds_from_labels(n: int, shown: dict[int, float]) -> tuple[float, float]:
    """Range of the similarity the program must compute from the values its own table shows.
    The labels are rounded to 0.01 ms, so each value may be off by 0.005; a value shown as
    0.00 is a slot that was not stored (two key events are milliseconds apart, never 5 us)."""
    tables = {(fld, kind): [0.0] * (MAX_KEYS + 1) for fld in (ENTERED, REENTERED)
              for kind in ("interval", "pressed")}
    for fld in (ENTERED, REENTERED):
        for cid, kind, k in grid(fld):
            tables[fld, kind][k] = shown[cid]
    return similarity_bounds(_pairs(n, *tables.values()), 0.005)
