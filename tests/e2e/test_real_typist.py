"""End-to-end check of the verdict tool against the real window: two typings of one person from
each data set (touch screen; physical keyboard, where keys overlap) are played with real X key
events into Typrova.exe under Wine, one into each field. The window is held against the
filing model (driver.py), and the model against typist_verdicts, the native tool that files the
data set for the verdict rates: the tool's tables from the same send times must equal the
model's to the last printed digit. The data set's own times give a third score, printed for
comparison only.

    python3 tests/e2e/test_real_typist.py --verdict-tool build/native/bench/typist_verdicts
        [--injector P] [--winprobe P] [--app P] [--data DIR]
"""

from __future__ import annotations

import math
import re
import subprocess
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import driver  # noqa: E402
import harness  # noqa: E402
import replay  # noqa: E402
from driver import OPTIONS  # noqa: E402
from harness import KeyEvent  # noqa: E402
from replay import ENTERED, REENTERED  # noqa: E402

# (data set, typing into Entered, typing into Re-entered), each typing as (person, number).
# Keyboard subject s002's typings 7 and 8 both press "n" while "a" is still down.
PAIRS = [("touch", (1, 1), (1, 2)),
         ("keyboard", (1, 7), (1, 8))]
START_MS = 400.0           # after the Shift warm-up
# The tablet's layer keys put no character into the field; they are played as Shift keys. The
# keyboard set did not record the Shift of its capital R: that key is played as the plain r.
X_KEYS = {".": "period", "Shift": "Shift_L", "Shift.1": "Shift_L", "Caps": "Shift_R",
          "five": "5", "Shift.r": "r"}


def run_tool(*args: str, stdin: str = "") -> str:
    data = ["--data", str(OPTIONS.data)] if OPTIONS.data else []
    r = subprocess.run([str(OPTIONS.verdict_tool), *data, *args], input=stdin,
                       capture_output=True, text=True, timeout=60)
    if r.returncode != 0:
        raise harness.HarnessError(f"typist_verdicts {' '.join(args)}: {r.stderr.strip()}")
    return r.stdout


def data_set_typing(data_set: str, person: int,
                    number: int) -> list[tuple[float, bool, str, str]]:
    """(ms, down, data set key, character typed or "-") of one typing, from the tool."""
    return [(float(t), kind == "down", key, typed) for t, kind, key, typed in
            re.findall(r"^event (\S+) (down|up) (\S+) (\S+)$",
                       run_tool("--typing", f"{data_set}:{person}:{number}"), re.M)]


def tool_result(lines: list[str]) -> tuple[dict[int, float], str]:
    """The value labels and the score the tool gives two typings."""
    out = run_tool("--score-events", "-", stdin="\n".join(lines) + "\n")
    tables: dict[int, float] = {}
    for part, fld in (("entered", ENTERED), ("reentered", REENTERED)):
        block = out.split(f"{part} text", 1)[1]
        for k, interval, pressed in re.findall(r"^key (\d+) interval (\S+) pressed (\S+)$",
                                               block, re.M)[:15]:
            tables[replay.pressed_label(fld, int(k))] = float(pressed)
            if int(k) >= 2:
                tables[replay.interval_label(fld, int(k))] = float(interval)  # type: ignore
    return tables, re.search(r"^score (\S+)$", out, re.M).group(1)  # type: ignore[union-attr]


def event_lines(fld: str, events) -> list[str]:
    return [f"{fld} {t:.4f} {'down' if down else 'up'} {typed}" for t, down, typed in events]


class RealTypist(driver.Window):

    @classmethod
    def setUpClass(cls):
        try:
            cls.pairs = {name: [data_set_typing(name, *typing) for typing in pair]
                         for name, *pair in PAIRS}
        except harness.HarnessError as e:
            raise unittest.SkipTest(str(e))
        super().setUpClass()

    def test_shown_tables_score_and_the_tools_filing(self):
        for name, *_ in PAIRS:
            with self.subTest(name):
                self.check_pair(self.pairs[name])

    def check_pair(self, typings) -> None:
        for fld in (ENTERED, REENTERED):    # the pair before this one is still in the fields
            self.clear(fld)
        tool_lines, dataset_lines = [], []
        for fld, code, typing in zip((ENTERED, REENTERED), "ER", typings):
            script = driver.warm_up() + [KeyEvent(START_MS + t, down, X_KEYS.get(key, key))
                                         for t, down, key, _ in typing]
            shown, _ = self.type_and_check(fld, script, clear_first=True)
            sent = self.last_sent[2:]      # the warm-up files nothing
            tool_lines += event_lines(code, [(e.sent_ms, e.down, typed)
                                             for e, (_, _, _, typed) in zip(sent, typing)])
            dataset_lines += event_lines(code, [(t, d, typed) for t, d, _, typed in typing])
        self.assertEqual((shown[ENTERED], shown[REENTERED]), (".tie5roanl", ".tie5roanl"))
        # The tool files the same send times as the model does (the first event of each field's
        # run aside: the model does not trust its time).
        tables, sent_score = tool_result(tool_lines)
        want = self.model.labels()
        differ = {cid: (tables.get(cid, 0.0), want[cid]) for cid in want
                  if not math.isnan(want[cid]) and abs(tables.get(cid, 0.0) - want[cid]) > 0.006}
        self.assertEqual(differ, {}, "the tool's filing (tool, model) differs from the model's")
        _, dataset_score = tool_result(dataset_lines)
        print(f"\nshown score {shown[replay.SCORE_LABEL]} {shown[replay.VERDICT_LABEL]}; the "
              f"tool over the send times {sent_score}, over the data set's times {dataset_score}",
              file=sys.stderr)


def options(p) -> None:
    p.add_argument("--verdict-tool", type=Path,
                   default=harness.REPO / "build/native/bench/typist_verdicts")
    p.add_argument("--data", type=Path, default=None, help="real typing folder (tool default)")


if __name__ == "__main__":
    sys.exit(driver.suite_main(options, required_files=["verdict_tool"]))
