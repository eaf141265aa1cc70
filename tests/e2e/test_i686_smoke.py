"""End-to-end smoke test of the 32-bit (i686) Typrova.exe under 32-bit Wine: opens the real
program, types one word into both fields with real X key events (a capital with Shift, an
overlapping pair and a Backspace), reads all 58 labels and the result box back and checks them
against a replay of the injector's send times, the score against the shown tables and the
verdict against the threshold; then Escape ends the program. Exits 77 (skipped) when a tool or
the program is not built. With TYPROVA_WINE=/usr/lib/wine/wine64 it runs an x86_64 program the
same way (the release zips' programs are smoke-tested so, tests/e2e/packaged_smoke.cmake).

    TYPROVA_WINE=/usr/lib/wine/wine python3 tests/e2e/test_i686_smoke.py \\
        [--injector P] [--winprobe P (x86_64)] [--app P (i686)] [-v]
"""

from __future__ import annotations

import os
import random
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402
import replay  # noqa: E402
from harness import KeyEvent  # noqa: E402
from replay import ENTERED, REENTERED  # noqa: E402

CAPTION = "Typrova"
# Where 32-bit code runs under user-mode emulation, each key costs the program several times
# what it costs natively, and a key event may wait behind the previous one. This is a
# functional test of the 32-bit program, not an accuracy figure: a shown time may be this far
# from the injected one (the x86_64 tests hold 3 ms). Wrong filing, a lost key or a wrong slot
# is off by a whole hold or pause (60 ms and more below) and still fails.
TOL_MS = 25.0
SETTLE_S = 1.0     # after the last key, before the window is read
WINE64 = "/usr/lib/wine/wine64"
TOOLS: dict[str, Path] = {}
STATS = {"max_diff": 0.0, "compared": 0}

# What the keys type: "Tp7", a stray "x" taken back with Backspace, then "qa". The first key
# is a capital (Shift down before T, up after it), "7" and "q" overlap (q goes down before 7
# comes up).
WORD = "Tp7qa"


def typing(seed: int, tempo: float = 1.0) -> list[KeyEvent]:
    """The key events for WORD with human-like holds (60-160 ms) and pauses (120-300 ms),
    after a Shift tap into the still-empty field that warms up the keyboard path and stores
    nothing. Every two events are at least 40 ms apart, so a delayed event cannot overtake
    the next one."""
    rng = random.Random(seed)
    ev = [KeyEvent(50, True, "Shift_L"), KeyEvent(130, False, "Shift_L")]
    t = 500.0

    def hold() -> float:
        return rng.uniform(60, 160) * tempo

    def pause() -> float:
        return rng.uniform(120, 300) * tempo

    # T with Shift
    ev.append(KeyEvent(t, True, "Shift_L"))
    t += rng.uniform(50, 90)
    h = hold()
    ev += [KeyEvent(t, True, "t"), KeyEvent(t + h, False, "t")]
    t += h + rng.uniform(50, 90)
    ev.append(KeyEvent(t, False, "Shift_L"))
    for key in ("p", "x", "BackSpace"):
        t += pause()
        h = hold()
        ev += [KeyEvent(t, True, key), KeyEvent(t + h, False, key)]
        t += h
    # 7 and q overlap: q goes down 40-70 ms before 7 comes up.
    t += pause()
    h7 = rng.uniform(120, 180) * tempo
    q_down = t + h7 - rng.uniform(40, 70)
    hq = hold()
    ev += [KeyEvent(t, True, "7"), KeyEvent(q_down, True, "q"), KeyEvent(t + h7, False, "7"),
           KeyEvent(q_down + hq, False, "q")]
    t = max(t + h7, q_down + hq) + pause()
    h = hold()
    ev += [KeyEvent(t, True, "a"), KeyEvent(t + h, False, "a")]
    ev.sort(key=lambda e: e.at_ms)
    for a, b in zip(ev, ev[1:]):
        assert b.at_ms - a.at_ms >= 40, (a, b)
    return ev


class I686Smoke(unittest.TestCase):
    """One program for the whole class; the steps run in the order of their names."""

    session: harness.Session
    app: harness.Program
    model: replay.Model

    @classmethod
    def setUpClass(cls):
        # The session is a 32-bit one (TYPROVA_WINE), so that it makes sure the prefix has
        # its 32-bit side; the probe is the x86_64 one, run natively: every start of a 32-bit
        # process costs a minute of emulation.
        cls.session = harness.Session(TOOLS["injector"], TOOLS["winprobe"]).start()
        try:
            loader = cls.session.env["WINE"]
            cls.session.env["WINE"] = WINE64
            cls.app = cls.session.launch(TOOLS["app"], CAPTION, loader=loader,
                                         wait_timeout_ms=600000)
        except Exception:
            cls.session.stop()
            raise
        harness.raise_session_priority(cls.session, [cls.app])
        cls.model = replay.Model()

    @classmethod
    def tearDownClass(cls):
        cls.session.stop()

    def shown(self) -> dict[int, str]:
        ids = sorted(self.model.labels()) + [replay.SCORE_LABEL, replay.VERDICT_LABEL,
                                             replay.THRESHOLD_LABEL, ENTERED, REENTERED]
        return dict(zip(ids, self.session.texts(CAPTION, ids)))

    def type_and_check(self, fld: int, events: list[KeyEvent]) -> dict[int, str]:
        self.session.focus_field(CAPTION, fld, timeout=60)
        sent = self.session.play(events)
        self.assertEqual(len(sent), len(events), "the injector did not send every event")
        time.sleep(SETTLE_S)
        self.model.play(fld, sent)
        shown = self.shown()
        self.assertEqual(shown[fld], self.model.fields[fld].text)
        cmp = self.model.compare(shown, TOL_MS, late_ms=0.0)
        STATS["compared"] += cmp.compared
        STATS["max_diff"] = max(STATS["max_diff"], cmp.max_diff)
        self.assertTrue(cmp.ok, cmp.describe())
        return shown

    def test_1_opens_in_its_opening_state(self):
        shown = self.shown()
        self.assertEqual(self.session.focused_id(CAPTION), ENTERED)
        self.assertEqual({c: shown[c] for c in self.model.labels()},
                         {c: "0.00" for c in self.model.labels()})
        self.assertEqual((shown[replay.SCORE_LABEL], shown[replay.VERDICT_LABEL],
                          shown[replay.THRESHOLD_LABEL]), ("0.00", "Enter text", "50.00"))

    def test_2_entered_field(self):
        shown = self.type_and_check(ENTERED, typing(seed=5))
        self.assertEqual(shown[ENTERED], WORD)
        # Slot 1 holds Shift's release, slot 2 the Backspace's (it shortened the text to 2),
        # slot 3 the stray x's, slot 4 the later release of the overlapping pair, slot 5 a's;
        # slots 6-15 must still read "0.00" (compare checks them exactly).
        self.assertEqual((shown[replay.SCORE_LABEL], shown[replay.VERDICT_LABEL]),
                         ("0.00", "Enter text"))

    def test_3_reentered_field_score_and_verdict(self):
        shown = self.type_and_check(REENTERED, typing(seed=5, tempo=1.1))
        self.assertEqual(shown[REENTERED], WORD)
        score = float(shown[replay.SCORE_LABEL])
        # The score is the formula over the program's own (shown) tables ...
        values = {cid: float(shown[cid]) for cid in self.model.labels()}
        lo, hi = replay.score_bounds_from_labels(len(WORD), values)
        self.assertTrue(100 * lo - 0.006 <= score <= 100 * hi + 0.006,
                        f"score {score} is not the formula over the shown tables "
                        f"[{100 * lo:.3f}, {100 * hi:.3f}]")
        # ... and the verdict that score against the threshold (50.00, not moved).
        self.assertEqual(shown[replay.THRESHOLD_LABEL], "50.00")
        if score >= 50.01:
            self.assertEqual(shown[replay.VERDICT_LABEL], "OK")
        elif score <= 49.99:
            self.assertEqual(shown[replay.VERDICT_LABEL], "FAILED")
        else:
            self.assertIn(shown[replay.VERDICT_LABEL], ("OK", "FAILED"))
        print(f"\nscore {score:.2f} (replay {self.model.score_text}), verdict "
              f"{shown[replay.VERDICT_LABEL]}", file=sys.stderr)

    def test_4_escape_ends_the_program(self):
        s = self.session
        s.focus_field(CAPTION, REENTERED, timeout=60)
        s.play([KeyEvent(50, True, "Escape"), KeyEvent(130, False, "Escape")])
        self.assertEqual(s.wait_exit(self.app, timeout=60), 0)


def main() -> int:
    if not os.environ.get("TYPROVA_WINE"):
        # The program is a 32-bit exe: it needs the 32-bit loader.
        os.environ["TYPROVA_WINE"] = "/usr/lib/wine/wine"

    def report() -> None:
        print(f"max |shown - expected| {STATS['max_diff']:.3f} ms over {STATS['compared']} values "
              f"(tolerance {TOL_MS} ms)", file=sys.stderr)
    return harness.suite_main(TOOLS, harness.REPO / "build/win32/app/Typrova.exe", report)

if __name__ == "__main__":
    sys.exit(main())
