"""What Typrova's window should show after a stream of key events: replays the events through
the program's timing rules (one clock shared by both fields, gap and previous gap, the slot is
the field's text length at the release) and its similarity score. Pure Python, no Wine; used by
the end-to-end tests, the soak and the benchmarks to turn injector send times into expected labels.

    m = Model()
    m.play(ENTERED, sent_events)        # KeyEvent-like objects: sent_ms, down, key
    m.labels()                          # {control id: expected value or NaN (unknown)}
"""

from __future__ import annotations

import math
from dataclasses import dataclass, field
from typing import Iterable, Optional, Sequence

ENTERED, REENTERED = 1001, 1003
CLEAR_BUTTON = {ENTERED: 1002, REENTERED: 1004}
SCORE_LABEL, VERDICT_LABEL, THRESHOLD_LABEL, SLIDER = 1066, 1006, 1007, 1005
MAX_KEYS = 15
UNKNOWN = math.nan
# A key event that reaches the program late (the X server, the Wine server or the program
# itself not scheduled at once on a busy machine) lengthens one gap and shortens the next by
# the same amount. Delays of more than 3 ms are seen now and then on a shared 2-core machine,
# up to about 40 ms even without a parallel build. A typing whose misses stay within this is
# repeated (a wrong rule misses again every time, a late event does not); a value off by more
# is wrong at once.
LATE_MS = 100.0


def interval_label(fld: int, key: int) -> Optional[int]:
    """Label of the Interval of key 2..15 (key 1 has none)."""
    if not 2 <= key <= MAX_KEYS:
        return None
    if fld == ENTERED:
        return 1035 if key == 15 else 1006 + key
    return 1035 + key


def pressed_label(fld: int, key: int) -> int:
    """Label of the Pressed time of key 1..15."""
    if not 1 <= key <= MAX_KEYS:
        raise ValueError(key)
    if fld == ENTERED:
        return 1021 if key == 1 else (1036 if key == 15 else 1020 + key)
    return 1065 if key == 1 else 1049 + key


def table_labels(fld: int) -> list[int]:
    """All 29 value labels of one entry's table."""
    ids = [pressed_label(fld, k) for k in range(1, MAX_KEYS + 1)]
    return ids + [interval_label(fld, k) for k in range(2, MAX_KEYS + 1)]  # type: ignore[misc]


# Keys that type one character and what they type (unshifted, shifted). The tests use only
# these, so the text model stays exact.
_SHIFTED_DIGITS = dict(zip("1234567890", "!@#$%^&*()"))


def char_of(key: str, shift: bool) -> Optional[str]:
    if len(key) == 1 and key.isalpha():
        return key.upper() if shift else key.lower()
    if len(key) == 1 and key.isdigit():
        return _SHIFTED_DIGITS[key] if shift else key
    if key == "space":
        return " "
    return None


MODIFIERS = {"Shift_L", "Shift_R"}
CARET_KEYS = {"Left", "Right", "Home", "End"}


@dataclass
class Field:
    text: str = ""
    caret: int = 0
    intervals: list = field(default_factory=lambda: [0.0] * (MAX_KEYS + 1))
    pressed: list = field(default_factory=lambda: [0.0] * (MAX_KEYS + 1))
    # How far each stored value may be off beyond the usual delivery jitter, in ms, because
    # an event it depends on was not sent by the injector (an X auto-repeat).
    interval_err: list = field(default_factory=lambda: [0.0] * (MAX_KEYS + 1))
    pressed_err: list = field(default_factory=lambda: [0.0] * (MAX_KEYS + 1))

    def clear(self) -> None:
        self.text, self.caret = "", 0
        self.intervals = [0.0] * (MAX_KEYS + 1)
        self.pressed = [0.0] * (MAX_KEYS + 1)
        self.interval_err = [0.0] * (MAX_KEYS + 1)
        self.pressed_err = [0.0] * (MAX_KEYS + 1)


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
        self.gap = UNKNOWN
        self.previous_gap = UNKNOWN
        self.gap_err = 0.0
        self.previous_gap_err = 0.0
        self.shift_down: set[str] = set()
        self.threshold_pos = threshold_pos        # the slider as of the last evaluation
        self.score_text = "0.00"
        self.verdict = "Enter text"
        self.score_value: Optional[float] = None  # unrounded percentage of the last evaluation
        self.eval_n: Optional[int] = None         # text length scored by the last evaluation
        self.events = 0
        self.stores = 0

    # --- input ----------------------------------------------------------------------------

    def break_clock(self) -> None:
        """The next key event's gap is unknown (it comes from another injector run)."""
        self.last_ms = None

    def stamp(self, t_ms: float, err_ms: float = 0.0) -> None:
        self.previous_gap, self.previous_gap_err = self.gap, self.gap_err
        if self.last_ms is None or math.isinf(err_ms) or math.isinf(self.last_err):
            self.gap, self.gap_err = UNKNOWN, 0.0
        else:
            self.gap, self.gap_err = t_ms - self.last_ms, self.last_err + err_ms
        self.last_ms, self.last_err = t_ms, err_ms

    def key(self, fld: int, t_ms: float, down: bool, key: str, err_ms: float = 0.0) -> None:
        """One key event delivered to field fld at time t_ms (ms). err_ms: how far t_ms may be
        off (an auto-repeat's scheduled time); math.inf: the time is not known at all."""
        f = self.fields[fld]
        self.events += 1
        if down:
            if key in MODIFIERS:
                self.shift_down.add(key)
            elif key == "BackSpace":
                if self.shift_down:
                    raise ValueError("BackSpace with Shift held is not modelled")
                if f.caret > 0:
                    f.text = f.text[: f.caret - 1] + f.text[f.caret:]
                    f.caret -= 1
            elif key in CARET_KEYS:
                if self.shift_down:
                    raise ValueError("Shift+arrow selects text; not modelled")
                f.caret = {"Left": max(0, f.caret - 1), "Right": min(len(f.text), f.caret + 1),
                           "Home": 0, "End": len(f.text)}[key]
            else:
                ch = char_of(key, bool(self.shift_down))
                if ch is None:
                    raise ValueError(f"key {key!r} is not modelled")
                f.text = f.text[: f.caret] + ch + f.text[f.caret:]
                f.caret += 1
            self.stamp(t_ms, err_ms)
            return
        self.shift_down.discard(key)
        self.stamp(t_ms, err_ms)
        length = len(f.text.encode("latin-1"))
        if 1 <= length <= MAX_KEYS:
            f.intervals[length] = self.previous_gap
            f.pressed[length] = self.gap
            f.interval_err[length] = self.previous_gap_err
            f.pressed_err[length] = self.gap_err
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
        self.fields[fld].clear()
        self.evaluate()

    def set_slider(self, pos: int) -> None:
        """The slider moved: only the threshold label follows; the verdict waits."""
        self.threshold_pos = pos

    # --- output ---------------------------------------------------------------------------

    def evaluate(self) -> None:
        e, r = self.fields[ENTERED], self.fields[REENTERED]
        if not e.text or e.text != r.text:
            self.score_text, self.verdict, self.score_value = "0.00", "Enter text", None
            self.eval_n = None
            return
        self.eval_n = len(e.text)
        s = similarity(len(e.text), e.intervals, e.pressed, r.intervals, r.pressed) * 100.0
        self.score_value = s
        if math.isnan(s):
            # An unknown value (or no measurement at all): the verdict cannot be predicted.
            self.score_text, self.verdict = "?", "?"
            return
        self.score_text = "%0.2f" % s
        self.verdict = "OK" if s >= self.threshold_pos / 100.0 else "FAILED"

    def labels(self) -> dict[int, float]:
        """Expected value of all 58 value labels (NaN: not predictable from the events)."""
        out: dict[int, float] = {}
        for fld, f in self.fields.items():
            for k in range(1, MAX_KEYS + 1):
                out[pressed_label(fld, k)] = f.pressed[k]
                if k >= 2:
                    out[interval_label(fld, k)] = f.intervals[k]  # type: ignore[index]
        return out

    def label_errors(self) -> dict[int, float]:
        """Extra tolerance (ms) of each label's expected value, beyond the delivery jitter."""
        out: dict[int, float] = {}
        for fld, f in self.fields.items():
            for k in range(1, MAX_KEYS + 1):
                out[pressed_label(fld, k)] = f.pressed_err[k]
                if k >= 2:
                    out[interval_label(fld, k)] = f.interval_err[k]  # type: ignore[index]
        return out

    def compare(self, shown: dict[int, str], tol_ms: float,
                late_ms: float = LATE_MS) -> "Comparison":
        """Checks shown label texts against the expected values. A value never stored must read
        exactly "0.00"; an unknown one is skipped; any other must be within tol_ms (plus its
        own extra tolerance). A value off by more than that but no more than late_ms is listed
        as "late" (an event that reached the program late, as a busy machine does now and
        then), anything else as "bad"."""
        res = Comparison()
        errs = self.label_errors()
        for cid, want in self.labels().items():
            text = shown[cid]
            try:
                got = float(text)
            except ValueError:
                res.bad.append((cid, text, want))
                continue
            if math.isnan(want):
                res.skipped += 1
                continue
            if want == 0.0 and errs[cid] == 0.0:
                if text != "0.00":
                    res.bad.append((cid, text, want))
                continue
            diff = abs(got - want)
            res.compared += 1
            if errs[cid] > 0.0:
                res.max_loose_diff = max(res.max_loose_diff, diff)
            else:
                res.max_diff = max(res.max_diff, diff)
            if diff > tol_ms + errs[cid] + late_ms:
                res.bad.append((cid, text, want))
            elif diff > tol_ms + errs[cid]:
                res.late.append((cid, text, want))
        return res

    def scored_values(self) -> list[tuple[float, float]]:
        """The (entered, re-entered) pairs the last evaluation scored, interval terms first per
        key (the tables cannot have changed since: only a store or a clear changes them, and
        both re-evaluate). Empty when the last evaluation scored nothing."""
        e, r = self.fields[ENTERED], self.fields[REENTERED]
        if self.eval_n is None:
            return []
        return _pairs(self.eval_n, e.intervals, e.pressed, r.intervals, r.pressed)


@dataclass
class Comparison:
    compared: int = 0          # values checked against a timing
    skipped: int = 0           # values that depend on an unknown gap
    max_diff: float = 0.0      # largest |shown - expected| over injector-timed values
    max_loose_diff: float = 0.0  # the same over values that depend on an auto-repeat
    bad: list = field(default_factory=list)   # (label id, shown text, expected): wrong
    late: list = field(default_factory=list)  # the same, off by a plausible delivery delay

    @property
    def ok(self) -> bool:
        return not self.bad and not self.late

    def describe(self) -> str:
        rows = [f"  label {cid}: shown {text!r}, expected {want:.3f}{' (late?)' if late else ''}"
                for rows_, late in ((self.bad, False), (self.late, True))
                for cid, text, want in rows_]
        return (f"{len(self.bad) + len(self.late)} label(s) off (compared {self.compared}, "
                f"skipped {self.skipped}):\n" + "\n".join(rows))


def _pairs(n: int, ie, pe, ir, pr) -> list[tuple[float, float]]:
    out = []
    for i in range(1, min(n, MAX_KEYS) + 1):
        if i >= 2:
            out.append((ie[i], ir[i]))
        out.append((pe[i], pr[i]))
    return out


def _accumulate(terms: Iterable[tuple[float, float]]) -> float:
    """1 - sqrt(num/den) over (d, m) terms: the ratio d/m is capped at 1 and then weighs as
    much as its size."""
    num = den = 0.0
    for d, m in terms:
        r = d / m if m != 0 else math.inf
        w = 1.0
        if r > 1.0:
            w, r = r, 1.0
        num += r * r * w
        den += w
    if den == 0.0:
        return math.nan
    return 1.0 - math.sqrt(num / den)


def similarity(n: int, ie: Sequence[float], pe: Sequence[float], ir: Sequence[float],
               pr: Sequence[float]) -> float:
    """Similarity in [0, 1] of two tables over keys 1..n; NaN when nothing is measured or a
    needed value is unknown. A pair counts when either side is positive; its difference is
    truncated toward zero before its absolute value is taken."""
    terms = []
    for a, b in _pairs(n, ie, pe, ir, pr):
        if math.isnan(a) or math.isnan(b):
            return math.nan
        if a > 0.0 or b > 0.0:
            terms.append((abs(math.trunc(a - b)), (a + b) / 2.0))
    return _accumulate(terms)


def similarity_bounds(pairs: Sequence[tuple[float, float]], err_ms: float) -> tuple[float, float]:
    """Smallest and largest similarity when every value may be off by up to err_ms (and a
    value within err_ms of 0 may also have been 0). The score falls as a truncated difference
    grows and rises as the mean grows, so the extremes take each term's extremes."""
    lo_terms, hi_terms = [], []
    for a, b in pairs:
        if math.isnan(a) or math.isnan(b):
            return math.nan, math.nan
        if a <= 0.0 and b <= 0.0:
            continue
        diff = abs(a - b)
        d_max = math.floor(diff + 2 * err_ms)
        d_min = max(0, math.floor(diff - 2 * err_ms))
        m = (a + b) / 2.0
        lo_terms.append((d_max, max(m - err_ms, 1e-9)))
        hi_terms.append((d_min, m + err_ms))
    return _accumulate(lo_terms), _accumulate(hi_terms)


def score_bounds_from_labels(n: int, shown: dict[int, float]) -> tuple[float, float]:
    """Range of the similarity the program must compute from the values its own table shows.
    The labels are rounded to 0.01 ms, so a truncated difference within 0.01 of a whole number
    may go either way; both ways are allowed."""
    tables = {}
    for fld in (ENTERED, REENTERED):
        ie = [0.0] * (MAX_KEYS + 1)
        pe = [0.0] * (MAX_KEYS + 1)
        for k in range(1, MAX_KEYS + 1):
            pe[k] = shown[pressed_label(fld, k)]
            if k >= 2:
                ie[k] = shown[interval_label(fld, k)]  # type: ignore[index]
        tables[fld] = (ie, pe)
    (ie, pe), (ir, pr) = tables[ENTERED], tables[REENTERED]
    lo_terms, hi_terms = [], []
    for a, b in _pairs(n, ie, pe, ir, pr):
        if a <= 0.0 and b <= 0.0:
            # Values shown as 0.00 may be tiny positives; such a pair adds d = 0 (a perfect
            # term) or nothing. A perfect term can only raise the score.
            hi_terms.append((0, max((a + b) / 2.0, 1e-9)))
            continue
        diff = a - b
        d = abs(math.trunc(diff))
        m = (a + b) / 2.0
        frac = abs(diff) - math.floor(abs(diff))
        d_hi = d + 1 if frac > 1 - 0.011 else d
        d_lo = max(0, d - 1) if frac < 0.011 and d > 0 else d
        lo_terms.append((d_hi, m - 0.005))
        hi_terms.append((d_lo, m + 0.005))
    lo = _accumulate(lo_terms)
    hi = max(_accumulate(hi_terms), lo) if hi_terms else lo
    return lo, hi
