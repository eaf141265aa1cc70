"""End-to-end test of Typrova's window at 100 %, 150 % and 200 % (96, 144 and 192 DPI): for each
scale, the Windows-side fit check (tests/win/fit_tests.cpp) measures the real dialogs inside
its own process (every text against its control in the control's font, overlaps, bounds), then
the real program is started, a password typed into both fields, and the window saved as a
picture. The window must grow with the scale. Runs in a prefix of its own, so that a run cut
short cannot leave another test's prefix at another scale; scripts/wine-env.sh makes it, as
every new prefix, a copy of the booted one. Its LogPixels is set for each scale.

    python3 tests/e2e/test_scale.py [--screenshots DIR] [--injector P] [--winprobe P] [--app P]
        [--fit-tests P]
"""

from __future__ import annotations

import re
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import driver  # noqa: E402
import harness  # noqa: E402
import replay  # noqa: E402
from driver import CAPTION, OPTIONS, REPO  # noqa: E402
from replay import ENTERED, REENTERED  # noqa: E402

SCALES = (96, 144, 192)
PASSWORD = "Rhythm7xQuiet4K"  # 15 characters: both tables full
SCALE_PREFIX = REPO / "build" / "wineprefix-scale"


def typing(tempo: float) -> list:
    return driver.human_typing(PASSWORD, seed=5, tempo=tempo, overlap_at=len(PASSWORD))


class Scales(unittest.TestCase):

    def test_fits_and_grows_at_each_scale(self):
        with harness.Session(OPTIONS.injector, OPTIONS.winprobe, prefix=SCALE_PREFIX) as s:
            widths = {}
            for dpi in SCALES:
                with self.subTest(dpi=dpi):
                    r = s.wine("reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels",
                               "/t", "REG_DWORD", "/d", str(dpi), "/f")
                    self.assertEqual(r.returncode, 0, r.stderr)
                    fit = s.wine(OPTIONS.fit_tests, timeout=120)
                    lines = [ln for ln in fit.stdout.splitlines()
                             if " DPI: " in ln or "Failure" in ln or ": control" in ln
                             or "overlap" in ln and "overlaps" not in ln]
                    print("\n" + "\n".join(lines), file=sys.stderr)
                    self.assertEqual(fit.returncode, 0, fit.stdout[-3000:])
                    seen = {int(m.group(1)) for m in re.finditer(r" at (\d+) DPI:", fit.stdout)}
                    self.assertEqual(seen, {dpi}, "the dialogs did not run at the scale set")

                    app = s.launch(OPTIONS.app, CAPTION)
                    s.focus_field(CAPTION, ENTERED)
                    s.play(typing(0.5))
                    s.focus_field(CAPTION, REENTERED)
                    s.play(typing(0.55))
                    time.sleep(0.3)
                    self.assertIn(s.text(CAPTION, replay.VERDICT_LABEL), ("OK", "FAILED"))
                    left, top, right, bottom = s.rect(CAPTION)
                    widths[dpi] = right - left
                    shot = s.screenshot(CAPTION, OPTIONS.screenshots / f"typrova-{dpi}dpi.png")
                    print(f"{dpi} DPI: window {right - left}x{bottom - top}, picture {shot}",
                          file=sys.stderr)
                    self.assertEqual(s.close(app), 0)
        # The window is laid out at the scale: 150 % and 200 % of its width at 96 DPI (the
        # frame and rounding of dialog units allow a few per cent).
        for dpi in SCALES[1:]:
            self.assertAlmostEqual(widths[dpi] / widths[96], dpi / 96, delta=0.05,
                                   msg=f"window width at {dpi} DPI: {widths}")


def options(p) -> None:
    p.add_argument("--fit-tests", type=Path, default=REPO / "build/win64/tests/win/fit_tests.exe")
    p.add_argument("--screenshots", type=Path, default=REPO / "build/scale")


if __name__ == "__main__":
    sys.exit(driver.suite_main(options, required_files=["fit_tests"]))
