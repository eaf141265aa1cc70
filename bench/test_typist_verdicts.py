"""Checks typist_verdicts on a slice of the touch-screen typists: a typing rebuilt and filed as
the window files it (values worked out by hand from the data set's columns), the pairing of
the fixed protocol, and its verdict counts against the verdicts of the same pairs scored one
by one. Exits 77 (skipped) when the data set is not there.

    python3 bench/test_typist_verdicts.py --tool build/native/bench/typist_verdicts --data DIR
"""

from __future__ import annotations

import argparse
import re
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

ARGS = argparse.Namespace()
PEOPLE, TYPINGS = 4, 6  # the slice: 4 x 5 genuine and 4 x 3 x 6 impostor pairs


def tool(*args: str, check: bool = True) -> subprocess.CompletedProcess:
    r = subprocess.run([str(ARGS.tool), *args], capture_output=True, text=True, timeout=60,
                       stdin=subprocess.DEVNULL)
    if check and r.returncode != 0:
        raise AssertionError(f"typist_verdicts {' '.join(args)} failed: {r.stderr}")
    return r


def typing(person: int, number: int) -> tuple[list[tuple[float, str, str]], dict[int, tuple]]:
    """The tool's events and table of one typing."""
    out = tool("--data", str(ARGS.data), "--typing", f"{person}:{number}").stdout
    events = [(float(t), kind, typed) for t, kind, _, typed in
              re.findall(r"^event (\S+) (down|up) (\S+) (\S+)$", out, re.M)]
    table = {int(k): (i, p) for k, i, p in
             re.findall(r"^key (\d+) interval (\S+) pressed (\S+)$", out, re.M)}
    return events, table


def score_pair(entered: tuple[int, int], reentered: tuple[int, int]) -> tuple[str, str]:
    """Score and verdict of one pair, through the events mode (evaluated once, directly)."""
    lines = []
    for fld, (p, n) in (("E", entered), ("R", reentered)):
        events, _ = typing(p, n)
        lines += [f"{fld} {t} {kind} {typed}" for t, kind, typed in events]
    r = subprocess.run([str(ARGS.tool), "--score-events", "-"], input="\n".join(lines) + "\n",
                       capture_output=True, text=True, timeout=60, check=True)
    score = re.search(r"^score (\S+)$", r.stdout, re.M).group(1)
    verdict = re.search(r"^verdict (.+)$", r.stdout, re.M).group(1)
    return score, verdict


class Rebuild(unittest.TestCase):
    def test_typing_is_filed_under_the_text_length(self):
        # Person 1, typing 1, from columns 1-27 of 1.csv by the data set's rules: presses at
        # 0, 383, 1005, ... (DD), releases at press + H. Shift, Shift.1 and Caps type nothing,
        # so their releases refile the slot of the text so far: key 4 ends with Shift's hold
        # (123) and the pause before it (752), key 5 with Caps' (101, 530). Enter is not typed.
        events, table = typing(1, 1)
        self.assertEqual(len(events), 26)
        self.assertEqual("".join(t for _, k, t in events if k == "down" and t != "-"),
                         ".tie5Roanl")
        pressed = [89, 92, 64, 123, 101, 84, 78, 110, 91, 94]
        intervals = [294, 530, 752, 530, 330, 534, 481, 386, 222]
        self.assertEqual([float(table[k][1]) for k in range(1, 11)], pressed)
        self.assertEqual([float(table[k][0]) for k in range(2, 11)], intervals)
        self.assertTrue(all(table[k] == ("0.00", "0.00") for k in range(11, 16)))

    def test_a_malformed_row_is_refused_with_its_place(self):
        good = (ARGS.data / "touch" / "1.csv").read_text().splitlines()
        with tempfile.TemporaryDirectory() as d:
            (Path(d) / "touch").mkdir()
            for p in (1, 2):
                rows = list(good)
                if p == 2:
                    rows[2] = ",".join(rows[2].split(",")[:70])  # one value missing
                (Path(d) / "touch" / f"{p}.csv").write_text("\n".join(rows) + "\n")
            r = tool("--data", d, "--people", "2", "--typings", "5", check=False)
            self.assertEqual(r.returncode, 1)
            self.assertIn("2.csv row 3", r.stderr)
            self.assertEqual(r.stdout, "")


class Protocol(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.out = tool("--data", str(ARGS.data), "--people", str(PEOPLE),
                       "--typings", str(TYPINGS)).stdout

    def field(self, line: str, name: str) -> str:
        m = re.search(rf"^{re.escape(line)} .*\b{name}=(\S+)", self.out, re.M)
        self.assertIsNotNone(m, f"no {name} in the '{line}' line:\n{self.out}")
        return m.group(1)

    def test_pair_counts(self):
        self.assertEqual(self.field("pairs", "genuine"), str(PEOPLE * (TYPINGS - 1)))
        self.assertEqual(self.field("pairs", "impostor"), str(PEOPLE * (PEOPLE - 1) * TYPINGS))

    def test_default_threshold_counts_match_pairs_scored_one_by_one(self):
        genuine = [score_pair((p, r), (p, r + 1)) for p in range(1, PEOPLE + 1)
                   for r in range(1, TYPINGS)]
        impostor = [score_pair((a, r), (b, r)) for a in range(1, PEOPLE + 1)
                    for b in range(1, PEOPLE + 1) if a != b for r in range(1, TYPINGS + 1)]
        self.assertTrue(all(v in ("OK", "FAILED") for _, v in genuine + impostor))
        self.assertEqual(int(self.field("default", "false_rejects")),
                         sum(v == "FAILED" for _, v in genuine))
        self.assertEqual(int(self.field("default", "false_accepts")),
                         sum(v == "OK" for _, v in impostor))
        # The slice must tell the two kinds of pair apart at all, or the counts prove little.
        self.assertNotEqual(sum(v == "OK" for _, v in genuine), 0)
        self.assertNotEqual(sum(v == "FAILED" for _, v in impostor), 0)

    def test_rates_at_the_reported_thresholds(self):
        with tempfile.TemporaryDirectory() as d:
            curve = Path(d) / "curve.csv"
            tool("--data", str(ARGS.data), "--people", str(PEOPLE), "--typings", str(TYPINGS),
                 "--curve", str(curve))
            rows = [line.split(",") for line in curve.read_text().splitlines()[1:]]
        self.assertEqual(len(rows), 10001)
        t = [r[0] for r in rows]
        frr = [float(r[1]) for r in rows]
        far = [float(r[2]) for r in rows]
        self.assertEqual((frr[0], far[0]), (0.0, 100.0))
        self.assertTrue(all(a <= b for a, b in zip(frr, frr[1:])), "FRR must not fall")
        self.assertTrue(all(a >= b for a, b in zip(far, far[1:])), "FAR must not rise")
        first10 = next(i for i, v in enumerate(far) if v <= 10.0)
        self.assertEqual(self.field("far<=10", "threshold"), t[first10])
        self.assertAlmostEqual(float(self.field("far<=10", "frr")), frr[first10], places=2)
        eer = t.index(self.field("eer", "threshold"))
        self.assertEqual(min(abs(a - b) for a, b in zip(frr, far)), abs(frr[eer] - far[eer]))


def main() -> int:
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", type=Path, required=True)
    ap.add_argument("--data", type=Path, required=True)
    args, rest = ap.parse_known_args()
    if not (args.data / "touch" / "1.csv").is_file():
        print(f"skipped: no touch/ data set in {args.data}", file=sys.stderr)
        return 77
    ARGS.tool, ARGS.data = args.tool, args.data
    prog = unittest.main(argv=[sys.argv[0], *rest], exit=False)
    return 0 if prog.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
