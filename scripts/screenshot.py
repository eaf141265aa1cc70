"""The headless half of scripts/run.sh: opens the program on a private Xvfb, types a key script
into both fields (the second time slower), saves a picture of the window and closes it.

    python3 scripts/screenshot.py --app EXE --out PNG [--keys FILE] [--caption C] [--slower F]
"""

from __future__ import annotations

import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "e2e"))
import harness  # noqa: E402
import replay  # noqa: E402


def main() -> int:
    p = harness.tool_arguments(harness.REPO / "build/win64/app/Typrova.exe")
    p.add_argument("--out", type=Path, required=True)
    p.add_argument("--keys", type=Path, help="key script typed into both fields")
    p.add_argument("--caption", default="Typrova")
    p.add_argument("--slower", type=float, default=1.07,
                   help="factor on the times of the second field's typing")
    args = p.parse_args()
    typing = args.keys is not None and args.injector.is_file()
    if args.keys is not None and not typing:
        print(f"run.sh: no key injector ({args.injector}); empty window shown", file=sys.stderr)
    with harness.Session(args.injector, args.winprobe, managed=False) as s:
        app = s.launch(args.app, args.caption, wait_timeout_ms=30000)
        if typing:
            events = harness.parse_script(args.keys.read_text())
            s.focus_field(args.caption, replay.ENTERED)
            s.play(events)
            # Whole milliseconds, as the script's own times are.
            slower = [harness.KeyEvent(float("%.0f" % (e.at_ms * args.slower)), e.down, e.key)
                      for e in events]
            s.focus_field(args.caption, replay.REENTERED)
            s.play(slower)
            time.sleep(0.3)
        s.screenshot(args.caption, args.out)
        rc = s.close(app)
    print(f"Screenshot of the window: {args.out} (program exit code {rc})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
