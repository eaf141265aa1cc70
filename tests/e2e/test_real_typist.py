"""End-to-end check of the verdict tool against the real window: two typings of one person from
each data set (touch screen; physical keyboard, where keys overlap) are played with real X key
events into Typrova.exe under Wine, one into each field, and what the window shows is set
against typist_verdicts, the native tool that runs the same timing code over the data sets.

What is exact and what has a tolerance:
- The score. It is a function of the two tables alone, so the tool scores the window's own
  shown tables (rebuilt as one key at a time, which files exactly those values) and must give
  the shown score to the last digit, up to one unit of it: the labels are rounded to 0.01 ms,
  which moves a mean by at most 0.005 ms. Where a shown difference lies within 0.01 ms of a
  whole millisecond, the unrounded one may truncate to either side, and both are tried.
- The verdict: the tool's, unless the score is within 0.01 of the threshold.
- The tables. Each shown value is within TOL_MS of the tool's table from the injector's actual
  send times; the window stamps a key when Wine delivers it, a fraction of a millisecond
  after it was sent (a value off by up to replay.LATE_MS is a late event: the pair is retyped,
  and if every attempt has some, the last attempt's are listed, not failed: the score check
  below reads the shown tables, and timing accuracy is the typing test's and the benchmarks'
  rule).
- The data set's own times give a third score, printed for comparison only: the window cannot
  see them more exactly than the delivery jitter, and a 1 ms change in a difference moves the
  truncated value.
Exits 77 (skipped) when a tool, the program or the data set is missing.

    python3 tests/e2e/test_real_typist.py --verdict-tool build/native/bench/typist_verdicts
        [--injector P] [--winprobe P] [--app P] [--data DIR]
"""

from __future__ import annotations

import itertools
import re
import subprocess
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402
import replay  # noqa: E402
from harness import KeyEvent  # noqa: E402
from replay import ENTERED, REENTERED  # noqa: E402

REPO = harness.REPO
CAPTION = "Typrova"
TOL_MS = 3.0
ATTEMPTS = 3
SETTLE_S = 0.3
# (data set, typing into Entered, typing into Re-entered), each typing as (person, number).
# Keyboard subject s002's typings 7 and 8 both press "n" while "a" is still down.
PAIRS = [("touch", (1, 1), (1, 2)),
         ("keyboard", (1, 7), (1, 8))]
START_MS = 400.0           # after a Shift tap that warms up Wine's keyboard path
# The tablet's layer keys put no character into the field; they are played as Shift keys. The
# keyboard set did not record the Shift of its capital R: that key is played as the plain r.
X_KEYS = {".": "period", "Shift": "Shift_L", "Shift.1": "Shift_L", "Caps": "Shift_R",
          "five": "5", "Shift.r": "r"}
TOOL: Path = Path()
DATA: list[str] = []


def run_tool(*args: str, stdin: str | None = None) -> str:
    r = subprocess.run([str(TOOL), *DATA, *args], input=stdin, capture_output=True, text=True,
                       timeout=60, **({} if stdin is not None else {"stdin": subprocess.DEVNULL}))
    if r.returncode != 0:
        raise harness.HarnessError(f"typist_verdicts {' '.join(args)}: {r.stderr.strip()}")
    return r.stdout


def data_set_typing(data_set: str, person: int,
                    number: int) -> list[tuple[float, bool, str, str]]:
    """(ms, down, data set key, character typed or "-") of one typing, from the tool."""
    return [(float(t), kind == "down", key, typed) for t, kind, key, typed in
            re.findall(r"^event (\S+) (down|up) (\S+) (\S+)$",
                       run_tool("--set", data_set, "--typing", f"{person}:{number}"), re.M)]


def tool_result(lines: list[str]) -> tuple[dict[int, str], str, str]:
    """Tables (label id -> text), score and verdict the tool gives two typings."""
    out = run_tool("--score-events", "-", stdin="\n".join(lines) + "\n")
    tables: dict[int, str] = {}
    for part, fld in (("entered", ENTERED), ("reentered", REENTERED)):
        block = out.split(f"{part} text", 1)[1]
        for k, interval, pressed in re.findall(r"^key (\d+) interval (\S+) pressed (\S+)$",
                                               block, re.M)[:15]:
            tables[replay.pressed_label(fld, int(k))] = pressed
            if int(k) >= 2:
                tables[replay.interval_label(fld, int(k))] = interval  # type: ignore[index]
    score = re.search(r"^score (\S+)$", out, re.M).group(1)  # type: ignore[union-attr]
    verdict = re.search(r"^verdict (.+)$", out, re.M).group(1)  # type: ignore[union-attr]
    return tables, score, verdict


def event_lines(fld: str, events) -> list[str]:
    return [f"{fld} {t:.4f} {'down' if down else 'up'} {typed}" for t, down, typed in events]


def one_key_at_a_time(pressed: list[float], intervals: list[float]) -> list:
    """Events that file exactly these values: key k pressed intervals[k] after the release of
    key k-1 and held pressed[k] (key 1's interval is never shown or scored: any will do)."""
    events, t = [], 0.0
    for k, (p, i) in enumerate(zip(pressed, intervals)):
        t += i if k > 0 else 100.0
        events += [(t, True, "x"), (t + p, False, "-")]
        t += p
    return events


class RealTypist(unittest.TestCase):
    session: harness.Session
    app: harness.Program

    @classmethod
    def setUpClass(cls):
        cls.pairs = {name: [data_set_typing(name, *typing) for typing in pair]
                     for name, *pair in PAIRS}
        cls.session, cls.app = harness.start_with_program(
            TOOLS["injector"], TOOLS["winprobe"], TOOLS["app"], CAPTION)
        harness.raise_session_priority(cls.session, [cls.app])

    @classmethod
    def tearDownClass(cls):
        cls.session.stop()

    def type_pair(self, typings) -> tuple[list[list[KeyEvent]], dict[int, str]]:
        sent = []
        for fld, typing in zip((ENTERED, REENTERED), typings):
            self.session.click_button(CAPTION, replay.CLEAR_BUTTON[fld])
            self.session.focus_field(CAPTION, fld)
            script = [KeyEvent(50, True, "Shift_L"), KeyEvent(130, False, "Shift_L")]
            script += [KeyEvent(START_MS + t, down, X_KEYS.get(key, key))
                       for t, down, key, _ in typing]
            report = self.session.play(script)
            self.assertEqual(len(report), len(script), "the injector did not send every event")
            sent.append(report[2:])
            time.sleep(SETTLE_S)
        ids = replay.table_labels(ENTERED) + replay.table_labels(REENTERED) + [
            replay.SCORE_LABEL, replay.VERDICT_LABEL, ENTERED, REENTERED]
        return sent, dict(zip(ids, self.session.texts(CAPTION, ids)))

    def test_shown_score_is_the_tools(self):
        for name, *_ in PAIRS:
            with self.subTest(name):
                self.check_pair(name, self.pairs[name])

    def check_pair(self, name: str, typings) -> None:
        n = sum(1 for _, down, _, typed in typings[0] if down and typed != "-")
        labels = [replay.pressed_label(f, k) for f in (ENTERED, REENTERED)
                  for k in range(1, n + 1)]
        labels += [replay.interval_label(f, k) for f in (ENTERED, REENTERED)
                   for k in range(2, n + 1)]
        for attempt in range(1, ATTEMPTS + 1):
            sent, shown = self.type_pair(typings)
            # The tables against the tool's filing of the injector's actual send times.
            lines = []
            for fld, report, typing in zip("ER", sent, typings):
                lines += event_lines(fld, [(e.sent_ms, e.down, typed)
                                           for e, (_, _, _, typed) in zip(report, typing)])
            from_sent, sent_score, _ = tool_result(lines)
            misses = {cid: float(shown[cid]) - float(from_sent[cid]) for cid in labels
                      if abs(float(shown[cid]) - float(from_sent[cid])) > TOL_MS}
            if not misses:
                break
            self.assertTrue(all(abs(d) <= replay.LATE_MS for d in misses.values()),
                            f"shown tables differ from the tool's: {misses}")
            print(f"\nattempt {attempt}: late events, off by {misses} ms; typed again",
                  file=sys.stderr)
        else:
            print(f"\nlate events in all {ATTEMPTS} attempts; the last one's are listed above",
                  file=sys.stderr)
        self.assertEqual(shown[ENTERED], ".tie5roanl")
        self.assertEqual(shown[REENTERED], ".tie5roanl")
        for f in (ENTERED, REENTERED):
            for k in range(n + 1, 16):
                self.assertEqual(shown[replay.pressed_label(f, k)], "0.00")

        # The score: the tool over the window's own tables.
        table = {fld: ([float(shown[replay.pressed_label(fld, k)]) for k in range(1, n + 1)],
                       [0.0] + [float(shown[replay.interval_label(fld, k)])  # type: ignore
                                for k in range(2, n + 1)])
                 for fld in (ENTERED, REENTERED)}
        # Each difference within 0.01 ms of a whole millisecond is tried on both sides of it,
        # by moving the Re-entered value (by at most 0.011 ms).
        choices = []
        for which in (0, 1):            # 0: Pressed, 1: Interval (key 1's is never scored)
            for k in range(1 if which else 0, n):
                a, b = table[ENTERED][which][k], table[REENTERED][which][k]
                whole = round(abs(a - b))
                if a > 0 and b > 0 and whole >= 1 and abs(abs(a - b) - whole) <= 0.0100001:
                    sign = 1.0 if b >= a else -1.0
                    choices.append((which, k, [a + sign * (whole + 0.001),
                                               a + sign * (whole - 0.001)]))
        scores = set()
        for picked in itertools.product(*[opts for _, _, opts in choices]):
            rt = {fld: ([*table[fld][0]], [*table[fld][1]]) for fld in table}
            for (which, k, _), value in zip(choices, picked):
                rt[REENTERED][which][k] = value
            lines = (event_lines("E", one_key_at_a_time(*table[ENTERED])) +
                     event_lines("R", one_key_at_a_time(*rt[REENTERED])))
            _, score, verdict = tool_result(lines)
            scores.add((score, verdict))
        shown_score = float(shown[replay.SCORE_LABEL])
        close = [(s, v) for s, v in scores if abs(float(s) - shown_score) <= 0.0100001]
        self.assertTrue(close, f"shown score {shown_score:.2f}, the tool over the shown tables "
                               f"{sorted(scores)}")
        if abs(shown_score - 50.0) > 0.0100001:
            self.assertEqual(shown[replay.VERDICT_LABEL], close[0][1])

        dataset_lines = []
        for fld, typing in zip("ER", typings):
            dataset_lines += event_lines(fld, [(t, d, typed) for t, d, _, typed in typing])
        _, dataset_score, dataset_verdict = tool_result(dataset_lines)
        print(f"\n{name}: shown score {shown[replay.SCORE_LABEL]} {shown[replay.VERDICT_LABEL]}; "
              f"tool over "
              f"the shown tables {sorted(scores)} ({len(choices)} differences near a whole ms); "
              f"over the send times {sent_score}; over the data set's times {dataset_score} "
              f"{dataset_verdict}", file=sys.stderr)


TOOLS: dict[str, Path] = {}


def main() -> int:
    p = harness.tool_arguments(REPO / "build/win64/app/Typrova.exe")
    p.add_argument("--verdict-tool", type=Path,
                   default=REPO / "build/native/bench/typist_verdicts")
    p.add_argument("--data", type=Path, default=None, help="real typing folder (tool default)")
    args, rest = p.parse_known_args()
    tools = harness.built_tools(args)
    if tools is None:
        return 77
    if not args.verdict_tool.is_file():
        print(f"skipped: typist_verdicts not built ({args.verdict_tool})", file=sys.stderr)
        return 77
    global TOOL
    TOOL = args.verdict_tool.resolve()
    if args.data is not None:
        DATA[:] = ["--data", str(args.data)]
    try:
        for name, *pair in PAIRS:
            data_set_typing(name, *pair[0])
    except harness.HarnessError as e:
        print(f"skipped: {e}", file=sys.stderr)
        return 77
    TOOLS.update(tools)
    return 0 if harness.run_tests(rest) else 1


if __name__ == "__main__":
    sys.exit(main())
