"""Checks typist_verdicts on slices of both data sets (touch-screen and physical-keyboard
typists): a typing rebuilt and filed as the window files it (values worked out by hand from
the data sets' columns), the pairing of the fixed protocol within each session, its verdict
counts against the verdicts of the same pairs scored one by one, and bad input refused with
its file and line and no figures. Exits 77 (skipped) when the data sets are not there.

    python3 bench/test_typist_verdicts.py --tool build/native/bench/typist_verdicts --data DIR
"""

from __future__ import annotations

import argparse
import functools
import re
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

ARGS = argparse.Namespace()
KEYBOARD_CSV = "keyboard-password/DSL-StrongPasswordData-session1.csv"
PEOPLE, TYPINGS = 4, 6  # the slices: 4 people, 6 typings each per session
KEYBOARD_SESSIONS = 2   # the keyboard slice is laid out like the full file: two sessions
SESSIONS = {"touch": 1, "keyboard": KEYBOARD_SESSIONS}  # the slices' sessions, per set


def tool(*args: str, check: bool = True, stdin: str = "") -> subprocess.CompletedProcess:
    r = subprocess.run([str(ARGS.tool), *args], capture_output=True, text=True, timeout=60,
                       input=stdin)
    if check and r.returncode != 0:
        raise AssertionError(f"typist_verdicts {' '.join(args)} failed: {r.stderr}")
    return r


def write_slices(folder: Path) -> tuple[str, ...]:
    """Writes a slice of each set into `folder` and returns the tool's options that read them.
    Touch: files 1 to PEOPLE, the first TYPINGS typings of each. Keyboard (keyboard.csv, laid
    out like the full file): PEOPLE subjects, reps 1-6 of the session-1 file as session 1 and
    reps 7-12 as session 2 (renumbered 1-6), in the full file's row order: subject, then
    session, then rep."""
    (folder / "touch").mkdir()
    for p in range(1, PEOPLE + 1):
        rows = (ARGS.data / "touch" / f"{p}.csv").read_text().splitlines()[:TYPINGS]
        (folder / "touch" / f"{p}.csv").write_text("\n".join(rows) + "\n")
    lines = (ARGS.data / KEYBOARD_CSV).read_text().splitlines()
    by_subject: dict[str, list[list[str]]] = {}
    for line in lines[1:]:
        cells = line.split(",")
        by_subject.setdefault(cells[0], []).append(cells)
    out = [lines[0]]
    for rows in list(by_subject.values())[:PEOPLE]:
        for session in range(KEYBOARD_SESSIONS):
            for rep, cells in enumerate(rows[session * TYPINGS:(session + 1) * TYPINGS], 1):
                out.append(",".join([cells[0], str(session + 1), str(rep), *cells[3:]]))
    (folder / "keyboard.csv").write_text("\n".join(out) + "\n")
    return ("--data", str(folder), "--keyboard-file", str(folder / "keyboard.csv"))


@functools.lru_cache(maxsize=None)
def typing(args: tuple[str, ...], name: str, person: int,
           number: int) -> tuple[tuple, dict[int, tuple]]:
    """The tool's events and table of one typing of set `name`, read with the options `args`
    (number counts through the sessions)."""
    out = tool(*args, "--typing", f"{name}:{person}:{number}").stdout
    events = tuple((float(t), kind, typed) for t, kind, _, typed in
                   re.findall(r"^event (\S+) (down|up) (\S+) (\S+)$", out, re.M))
    table = {int(k): (i, p) for k, i, p in
             re.findall(r"^key (\d+) interval (\S+) pressed (\S+)$", out, re.M)}
    return events, table


def score_pair(args: tuple[str, ...], name: str, entered: tuple[int, int],
               reentered: tuple[int, int]) -> str:
    """Verdict of one pair, through the events mode (evaluated once, directly)."""
    lines = []
    for fld, (p, n) in (("E", entered), ("R", reentered)):
        events, _ = typing(args, name, p, n)
        lines += [f"{fld} {t} {kind} {typed}" for t, kind, typed in events]
    out = tool("--score-events", "-", stdin="\n".join(lines) + "\n").stdout
    return re.search(r"^verdict (.+)$", out, re.M).group(1)


class Rebuild(unittest.TestCase):
    def test_typing_is_filed_under_the_text_length(self):
        # Each row is worked out by hand from the data set's columns: presses at the summed
        # press-to-press times, releases at press + hold, every release filing the last two
        # gaps under the text length at that moment. Touch, person 1, typing 1 (ms): Shift,
        # Shift.1 and Caps type nothing, so their releases refile the slot of the text so
        # far: key 4 ends with Shift's hold (123) and the pause before it (752), key 5 with
        # Caps' (101, 530); Enter is not typed. Keyboard, subject s002, rep 7 (s): "a" is
        # still down when "n" goes down (UD.a.n = -0.0114), so "a"'s release files under
        # length 9 and "n"'s refiles it (11.4 from the release of "a" back to the press of
        # "n", 66.8 held after that): key 8 keeps nothing. Return is not typed and the
        # capital R is the plain r key.
        cases = [
            ("touch", 1, 26, ".tie5Roanl",
             [89, 92, 64, 123, 101, 84, 78, 110, 91, 94],
             [294, 530, 752, 530, 330, 534, 481, 386, 222]),
            ("keyboard", 7, 20, ".tie5roanl",
             [106.4, 86.6, 80.0, 78.9, 85.5, 94.8, 123.3, 0.0, 66.8, 87.9],
             [100.5, 50.2, 60.7, 717.8, 1115.0, 213.5, 0.0, 11.4, 121.7]),
        ]
        for name, number, n_events, text, pressed, intervals in cases:
            with self.subTest(name):
                events, table = typing(("--data", str(ARGS.data)), name, 1, number)
                self.assertEqual(len(events), n_events)
                self.assertEqual("".join(t for _, k, t in events if k == "down" and t != "-"),
                                 text)
                self.assertEqual([float(table[k][1]) for k in range(1, 11)], pressed)
                self.assertEqual([float(table[k][0]) for k in range(2, 11)], intervals)
                self.assertTrue(all(table[k] == ("0.00", "0.00") for k in range(11, 16)))

    def test_bad_input_is_refused_with_its_place_and_no_figures(self):
        # A good touch slice beside a broken keyboard file (and the reverse): nothing may be
        # printed from the set that did read. Keyboard lines: 1 the header, 2-7 s002's typings
        # of session 1. Each row replaces one cell of one line, or drops the line's last value
        # (None).
        header = (ARGS.data / KEYBOARD_CSV).read_text().splitlines()[0].split(",")
        hold_t = header.index("H.t")
        cases = [
            # (what, file edited, line, column, new value, expected words)
            ("missing column", "keyboard", 1, header.index("DD.e.five"), "DD.e.fivx",
             "no column DD.e.five"),
            ("missing value", "keyboard", 4, -1, None, "33 values, the header names 34"),
            ("non-number", "keyboard", 3, hold_t, "0.1x", "H.t is not a number"),
            ("negative hold", "keyboard", 5, hold_t, "-0.0866",
             "the hold of key t is not positive (-86.60 ms)"),
            # 1e300 is also beyond every integer type: read as a number, not converted.
            ("subject alone in a session", "keyboard", 2, header.index("sessionIndex"), "1e300",
             "the only typing of subject s002 in its session"),
            ("touch row short of a value", "touch", 3, -1, None, "70 values, not 71"),
            ("touch non-number", "touch", 2, 4, "abc", "column 5 is not a number"),
            ("touch negative hold", "touch", 6, 1, "-92",
             "the hold of key t is not positive (-92.00 ms)"),
        ]
        for what, target, line, column, value, words in cases:
            with self.subTest(what), tempfile.TemporaryDirectory() as d:
                args = write_slices(Path(d))
                files = {"touch": Path(d) / "touch" / "2.csv", "keyboard": Path(d) / "keyboard.csv"}
                rows = files[target].read_text().splitlines()
                cells = rows[line - 1].split(",")
                if value is None:
                    cells.pop()
                else:
                    cells[column] = value
                rows[line - 1] = ",".join(cells)
                files[target].write_text("\n".join(rows) + "\n")
                r = tool(*args, check=False)
                self.assertEqual(r.returncode, 1, r.stderr)
                self.assertIn(f"{files[target]} line {line}: {words}", r.stderr)
                self.assertEqual(r.stdout, "")


class Protocol(unittest.TestCase):
    args: tuple[str, ...]
    out: str
    curves: dict[str, list[list[str]]]

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.addClassCleanup(cls.tmp.cleanup)
        cls.args = write_slices(Path(cls.tmp.name))
        curve = Path(cls.tmp.name) / "curve.csv"
        cls.out = tool(*cls.args, "--curve", str(curve)).stdout
        lines = curve.read_text().splitlines()
        assert lines[0] == "set,threshold,frr,far"
        cls.curves = {name: [line.split(",")[1:] for line in lines[1:]
                             if line.startswith(name + ",")] for name in SESSIONS}

    def field(self, s: str, line: str, name: str) -> str:
        m = re.search(rf"^{s} {re.escape(line)} .*\b{name}=(\S+)", self.out, re.M)
        self.assertIsNotNone(m, f"no {name} in the '{line}' line:\n{self.out}")
        return m.group(1)

    def test_pairs_and_default_threshold_counts_match_pairs_scored_one_by_one(self):
        for s, sessions in SESSIONS.items():
            with self.subTest(s):
                # Typing k of session j is the person's typing j * TYPINGS + k.
                firsts = [j * TYPINGS for j in range(sessions)]
                genuine = [score_pair(self.args, s, (p, f + r), (p, f + r + 1)) for f in firsts
                           for p in range(1, PEOPLE + 1) for r in range(1, TYPINGS)]
                impostor = [score_pair(self.args, s, (a, f + r), (b, f + r)) for f in firsts
                            for a in range(1, PEOPLE + 1) for b in range(1, PEOPLE + 1)
                            if a != b for r in range(1, TYPINGS + 1)]
                self.assertEqual(self.field(s, "pairs", "genuine"), str(len(genuine)))
                self.assertEqual(self.field(s, "pairs", "impostor"), str(len(impostor)))
                self.assertTrue(all(v in ("OK", "FAILED") for v in genuine + impostor))
                self.assertEqual(int(self.field(s, "default", "false_rejects")),
                                 sum(v == "FAILED" for v in genuine))
                self.assertEqual(int(self.field(s, "default", "false_accepts")),
                                 sum(v == "OK" for v in impostor))
                # The slice must tell the two kinds of pair apart at all, or the counts prove
                # little.
                self.assertNotEqual(sum(v == "OK" for v in genuine), 0)
                self.assertNotEqual(sum(v == "FAILED" for v in impostor), 0)

    def test_rates_at_the_reported_thresholds(self):
        for s in SESSIONS:
            with self.subTest(s):
                rows = self.curves[s]
                self.assertEqual(len(rows), 10001)
                t = [r[0] for r in rows]
                frr = [float(r[1]) for r in rows]
                far = [float(r[2]) for r in rows]
                self.assertEqual((frr[0], far[0]), (0.0, 100.0))
                self.assertTrue(all(a <= b for a, b in zip(frr, frr[1:])), "FRR must not fall")
                self.assertTrue(all(a >= b for a, b in zip(far, far[1:])), "FAR must not rise")
                first10 = next(i for i, v in enumerate(far) if v <= 10.0)
                self.assertEqual(self.field(s, "far<=10", "threshold"), t[first10])
                self.assertAlmostEqual(float(self.field(s, "far<=10", "frr")), frr[first10],
                                       places=2)
                eer = t.index(self.field(s, "eer", "threshold"))
                self.assertEqual(min(abs(a - b) for a, b in zip(frr, far)),
                                 abs(frr[eer] - far[eer]))


def main() -> int:
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", type=Path, required=True)
    ap.add_argument("--data", type=Path, required=True)
    _, rest = ap.parse_known_args(namespace=ARGS)
    for needed in ("touch/1.csv", KEYBOARD_CSV):
        if not (ARGS.data / needed).is_file():
            print(f"skipped: no {needed} in {ARGS.data}", file=sys.stderr)
            return 77
    prog = unittest.main(argv=[sys.argv[0], *rest], exit=False)
    return 0 if prog.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
