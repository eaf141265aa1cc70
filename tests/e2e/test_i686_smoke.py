"""End-to-end smoke test of the 32-bit (i686) Typrova.exe under 32-bit Wine: opens the real
program, types one word into both fields with real X key events (a capital with Shift, an
overlapping pair and a Backspace), reads all 58 labels and the result box back and checks them
against a replay of the injector's send times, the score against the shown tables and the
verdict against the threshold; then Escape ends the program. The program runs under the 32-bit
loader unless --wine names another: with --wine /usr/lib/wine/wine64 it smoke-tests an x86_64
program the same way (the release zips' programs are smoke-tested so, packaged_smoke.cmake).

    python3 tests/e2e/test_i686_smoke.py [--injector P] [--winprobe P (x86_64)] [--app P (i686)]
        [--wine LOADER]
"""

from __future__ import annotations

import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import driver  # noqa: E402
import replay  # noqa: E402
from driver import CAPTION, REPO  # noqa: E402
from harness import KeyEvent  # noqa: E402
from replay import ENTERED, REENTERED  # noqa: E402

# Where 32-bit code runs under user-mode emulation, each key costs the program several times
# what it costs natively, and a key event may wait behind the previous one. This is a
# functional test of the 32-bit program, not an accuracy figure: a shown time may be this far
# from the injected one (the x86_64 tests hold 3 ms). Wrong filing, a lost key or a wrong slot
# is off by a whole hold or pause (40 ms and more below) and still fails.
TOL_MS = 25.0

# What the keys type: "Tp7qa", a stray "x" taken back with Backspace before "7" and "q",
# which overlap (q goes down before 7 comes up); the first key is a capital (Shift down before
# T, up after it). Every two events are at least 40 ms apart, so a delayed event cannot
# overtake the next one (seed 3 gives that at both tempos).
WORD = "Tp7qa"


def typing(tempo: float) -> list[KeyEvent]:
    return driver.human_typing("Tpx\b7qa", seed=3, tempo=tempo, overlap_at=4, min_gap_ms=40)


class I686Smoke(driver.Window):
    """One program for the whole class; the steps run in the order of their names. The session
    is a 32-bit one, so that it makes sure the prefix has its 32-bit side; the probe is the
    x86_64 one, run natively: every start of a 32-bit process costs a minute of emulation."""

    loader = "/usr/lib/wine/wine"
    tol_ms = TOL_MS
    late_ms = 0.0        # every miss is very late: retyped, and the attempt judged has none
    settle_s = 1.0       # after the last key, before the window is read
    wait_s, focus_s = 600.0, 60.0
    # The mean of (shown - sent) under emulation is not an accuracy figure either; a bias of
    # a few ms is the x86_64 suites' to catch (the timing code is the same).
    bias_ms = 5.0

    @classmethod
    def setUpClass(cls):
        cls.loader = driver.OPTIONS.wine
        super().setUpClass()

    def test_1_opens_in_its_opening_state(self):
        shown = self.shown()
        self.compare(shown)         # the empty model: every value exactly "0.00"
        self.check_result(shown)    # "0.00" and "Enter text"
        self.assertEqual(shown[replay.THRESHOLD_LABEL], "50.00")
        self.assertEqual(self.session.focused_id(CAPTION), ENTERED)

    def test_2_entered_field(self):
        shown, _ = self.type_and_check(ENTERED, typing(1.0), clear_first=True)
        self.assertEqual(shown[ENTERED], WORD)
        # Slot 1 holds Shift's release, slot 2 the Backspace's (it shortened the text to 2),
        # slot 3 the stray x's, slot 4 the later release of the overlapping pair, slot 5 a's;
        # slots 6-15 must still read "0.00" (compare checks them exactly).

    def test_3_reentered_field_score_and_verdict(self):
        shown, _ = self.type_and_check(REENTERED, typing(1.1), clear_first=True)
        self.assertEqual(shown[REENTERED], WORD)
        self.assertEqual(shown[replay.THRESHOLD_LABEL], "50.00")

    def test_4_escape_ends_the_program(self):
        s = self.session
        self.focus(REENTERED)
        s.play([KeyEvent(50, True, "Escape"), KeyEvent(130, False, "Escape")])
        self.assertEqual(s.wait_exit(self.app, timeout=60), 0)


def options(p) -> None:
    p.add_argument("--wine", default=I686Smoke.loader, help="the Wine loader of the program")


if __name__ == "__main__":
    sys.exit(driver.suite_main(options, default_app=REPO / "build/win32/app/Typrova.exe"))
