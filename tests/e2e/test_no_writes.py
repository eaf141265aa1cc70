"""Checks that Typrova.exe writes nothing to disk or registry: runs it in a fresh Wine prefix,
types into both fields, clears, closes, and compares the prefix's files and registry before and
after with what Wine itself changes in the same kind of session without the program.

    python3 tests/e2e/test_no_writes.py [--injector P] [--winprobe P] [--app P]

What counts as Wine's own: the prefix is first made (a copy of the booted prefix in which no
program has run, see scripts/wine-env.sh) and its server stopped (so the registry is on disk),
then a session is started and stopped WITHOUT the program (the control run), then a session
runs the program. Whatever the control run changed is Wine's own doing (its server
rewrites the registry files on exit with new key timestamps, services record their state, the
desktop process may touch its files); the check compares the control run with the program run,
so only what the program adds shows up. Registry files are compared by content (parse_reg).
"""

from __future__ import annotations

import hashlib
import os
import re
import shutil
import sys
import tempfile
import time
import unittest
from pathlib import Path
from typing import Callable

sys.path.insert(0, str(Path(__file__).resolve().parent))
import driver  # noqa: E402
import harness  # noqa: E402
import replay  # noqa: E402
from driver import CAPTION, OPTIONS, REPO  # noqa: E402
from harness import KeyEvent  # noqa: E402
from replay import ENTERED, REENTERED  # noqa: E402

REGISTRY_FILES = ("system.reg", "user.reg", "userdef.reg")
HASH_LIMIT = 4 << 20   # files up to this size are compared by content, larger ones by size+mtime


def snapshot_files(prefix: Path) -> dict[str, tuple]:
    """Every path under the prefix (registry files aside) with what identifies its content."""
    out: dict[str, tuple] = {}
    for root, dirs, files in os.walk(prefix):
        for name in dirs + files:
            p = Path(root) / name
            rel = str(p.relative_to(prefix))
            if rel in REGISTRY_FILES:
                continue
            st = p.lstat()
            if p.is_symlink():
                out[rel] = ("link", os.readlink(p))
            elif p.is_dir():
                out[rel] = ("dir",)
            elif st.st_size <= HASH_LIMIT:
                out[rel] = ("file", st.st_size, hashlib.sha1(p.read_bytes()).hexdigest())
            else:
                out[rel] = ("file", st.st_size, st.st_mtime_ns)
    return out


_KEY_LINE = re.compile(r"^\[(.*)\](?: \d+)?$")


def parse_reg(text: str) -> dict[str, dict[str, str]]:
    """A Wine registry file as {key: {value name: data}}, without the modification times (the
    number after each key name and the "#time=" lines) and the file's header comments."""
    keys: dict[str, dict[str, str]] = {}
    current: dict[str, str] | None = None
    pending = ""
    for raw in text.splitlines():
        line = pending + raw
        if line.endswith("\\") and current is not None:   # value continued on the next line
            pending = line[:-1]
            continue
        pending = ""
        m = _KEY_LINE.match(line)
        if m:
            current = keys.setdefault(m.group(1).lower(), {})
        elif current is None or not line or line.startswith(";;") or line.startswith("#time="):
            continue
        elif line.startswith("#"):
            current[line.split("=", 1)[0]] = line     # key class, link and similar markers
        else:
            name, _, data = line.partition("=")
            current[name.lower()] = data
    return keys


def diff(before: dict, after: dict, path: str = "") -> list[str]:
    """Paths (file names, or registry file / key / value) that appeared, vanished or changed."""
    out = []
    for k in sorted(set(before) | set(after), key=str):
        where = f"{path}/{k}" if path else str(k)
        if k not in before:
            out.append(f"added {where}")
        elif k not in after:
            out.append(f"removed {where}")
        elif isinstance(before[k], dict) and isinstance(after[k], dict):
            out += diff(before[k], after[k], where)
        elif before[k] != after[k]:
            out.append(f"changed {where}")
    return out


def session_cycle(prefix: Path, body: Callable[[harness.Session], None] = lambda s: None):
    """Starts a session on the prefix, runs body, stops the session. Stopping the Wine server
    writes the registry to disk."""
    with harness.Session(OPTIONS.injector, OPTIONS.winprobe, prefix=prefix) as s:
        body(s)


def snapshot(prefix: Path) -> dict:
    registry = {name: parse_reg((prefix / name).read_text(errors="replace"))
                for name in REGISTRY_FILES if (prefix / name).exists()}
    return {"files": snapshot_files(prefix), "registry": registry}


def changes_of(prefix: Path, body: Callable[[harness.Session], None]) -> tuple[list, list]:
    """(what a session without the program changed, what the session running body changed
    beyond that). The prefix must exist and be at rest."""
    start = snapshot(prefix)
    session_cycle(prefix)
    control = snapshot(prefix)
    session_cycle(prefix, body)
    final = snapshot(prefix)
    wine_own = set(diff(start, control))
    # A path Wine itself changes in every session is not the program's; anything else that
    # differs between the control run and the program run is.
    changed = [c for c in diff(control, final) if c not in wine_own]
    return sorted(wine_own), changed


def use_the_program(s: harness.Session) -> None:
    """Types into both fields, clears both, closes: everything a user does with it."""
    prog = s.launch(OPTIONS.app, CAPTION)
    for fld in (ENTERED, REENTERED):
        s.focus_field(CAPTION, fld)
        s.play(harness.keystrokes(["Shift_L", "p", "a", "s", "s", "1"], start_ms=50,
                                  hold_ms=60, gap_ms=120))
        time.sleep(0.2)
    if s.texts(CAPTION, [ENTERED, REENTERED]) != ["pass1", "pass1"]:
        raise harness.HarnessError("the typing did not reach both fields")
    if s.text(CAPTION, replay.VERDICT_LABEL) not in ("OK", "FAILED"):
        raise harness.HarnessError("no verdict after typing the same text twice")
    s.click_control(CAPTION, replay.CLEAR_BUTTON[ENTERED])
    s.click_button(CAPTION, replay.CLEAR_BUTTON[REENTERED])
    s.focus_field(CAPTION, ENTERED)
    s.play([KeyEvent(50, True, "Escape"), KeyEvent(110, False, "Escape")])
    if s.wait_exit(prog, timeout=15) != 0:
        raise harness.HarnessError("the program did not exit with code 0")


# Where Wine writes in some sessions and not in others, whatever runs: the display and monitor
# device classes, which its display driver registers again (keys, default values, driver date)
# as the desktop starts and may be cut short when the session stops. A change below them is
# Wine's own even when the control run did not make it; the program never writes there.
WINE_VOLATILE = re.compile(r"system\\\\currentcontrolset\\\\control\\\\class\\\\"
                           r"\{4d36e96[8e]-e325-11ce-bfc1-08002be10318\}[\\/]")


class NoWrites(unittest.TestCase):

    def test_the_program_writes_nothing(self):
        tmp = Path(tempfile.mkdtemp(prefix="typrova-no-writes-", dir=REPO / "build"))
        try:
            # A new prefix: a copy of the freshly booted one, its server stopped (on disk).
            prefix = tmp / "prefix"
            session_cycle(prefix)
            self.assertTrue((prefix / "system.reg").is_file(), "no prefix made")
            wine_own, changed = changes_of(prefix, use_the_program)
            wine_own += [c for c in changed if WINE_VOLATILE.search(c)]
            changed = [c for c in changed if not WINE_VOLATILE.search(c)]
            print(f"\nWine's own changes in a session ({len(wine_own)}), ignored:", file=sys.stderr)
            for c in wine_own:
                print("  " + c, file=sys.stderr)
            self.assertEqual(changed, [], f"the run of {OPTIONS.app.name} changed the prefix")
        finally:
            shutil.rmtree(tmp, ignore_errors=True)   # the prefix and its .lock/.log files


if __name__ == "__main__":
    sys.exit(driver.suite_main())
