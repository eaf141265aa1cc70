"""The headless half of scripts/run.sh: opens the program on a private Xvfb, types
scripts/demo.keys into both fields (the second time 7 % slower), saves a picture of the window
to build/screenshot.png and closes the program.

    python3 scripts/screenshot.py [--app EXE] [--injector PATH] [--winprobe PATH]
"""

import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "e2e"))
import harness  # noqa: E402
import replay  # noqa: E402

CAPTION = "Typrova"
OUT = harness.REPO / "build" / "screenshot.png"


def main() -> int:
    args = harness.tool_arguments(harness.REPO / "build/win64/app/Typrova.exe").parse_args()
    events = harness.parse_script((harness.REPO / "scripts" / "demo.keys").read_text())
    # Whole milliseconds, as the script's own times are.
    slower = [harness.KeyEvent(float("%.0f" % (e.at_ms * 1.07)), e.down, e.key) for e in events]
    with harness.Session(args.injector, args.winprobe) as s:
        app = s.launch(args.app, CAPTION, wait_timeout_ms=30000)
        for field, typing in ((replay.ENTERED, events), (replay.REENTERED, slower)):
            s.focus_field(CAPTION, field)
            s.play(typing)
        time.sleep(0.3)
        s.screenshot(CAPTION, OUT)
        rc = s.close(app)
    print(f"Screenshot of the window: {OUT} (program exit code {rc})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
