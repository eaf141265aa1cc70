"""Checks the end-to-end tools (injector, winprobe, wine-env.sh/wine-exec.sh, harness) against
the minimal dialog (build/win64/bench/minimal_dialog.exe) under Wine and Xvfb. Prints the
injector's send-time distribution.
"""

from __future__ import annotations

import fcntl
import os
import string
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import driver  # noqa: E402
import harness  # noqa: E402
from driver import OPTIONS, REPO  # noqa: E402

CAPTION = "Minimal dialog"
FIELD, ECHO, CLOSE = 1001, 1066, 2


class HarnessParsing(unittest.TestCase):
    """The harness's readers of winprobe and injector output (no Wine needed)."""

    needs = ()

    def test_unescape_reverses_winprobe_escaping(self):
        self.assertEqual(harness.unescape(r"a\tb\nc\rd"), "a\tb\nc\rd")
        # An escaped backslash followed by "n" is a backslash and an n, not a newline.
        self.assertEqual(harness.unescape(r"C:\\new"), "C:\\new")
        self.assertEqual(harness.unescape(r"\x01\x7f end"), "\x01\x7f end")

    def test_keystrokes_overlap_and_order(self):
        ev = harness.keystrokes(["a", "b"], start_ms=100, hold_ms=200, gap_ms=150)
        self.assertEqual([(e.at_ms, e.down, e.key) for e in ev],
                         [(100, True, "a"), (250, True, "b"), (300, False, "a"), (450, False, "b")])
        self.assertEqual(harness.parse_script("\n".join(e.line() for e in ev) + "\n# done\n"),
                         [harness.KeyEvent(e.at_ms, e.down, e.key) for e in ev])


class InjectorScriptErrors(unittest.TestCase):
    """A bad script is refused before any key is sent (exit 2, nothing on stdout); these
    checks need no X display."""

    needs = ("injector",)

    def test_bad_scripts(self):
        for script, message in (("0 down a\n10 sideways a\n", "expected 'down' or 'up'"),
                                ("0 down\n", "expected '<time_ms>"),
                                ("0 down a b\n", "expected '<time_ms>"),
                                ("ten down a\n", "bad time"), ("-5 down a\n", "bad time"),
                                ("nan down a\n", "bad time"),
                                ("0 down a\n100 up a\n99 down b\n", "before the previous event"),
                                ("0 down NoSuchKey\n", "unknown keysym 'NoSuchKey'")):
            with self.subTest(script=script):
                r = subprocess.run([str(OPTIONS.injector)], input=script, capture_output=True,
                                   text=True, env={"PATH": "/usr/bin:/bin"},  # no DISPLAY at all
                                   timeout=30)
                self.assertEqual((r.returncode, r.stdout), (2, ""), r.stderr)
                self.assertIn(message, r.stderr)


class WithSession(driver.Window):
    """One Wine session and one minimal dialog for the whole class."""

    caption = CAPTION

    def type_into_field(self, events) -> tuple[str, list[harness.KeyEvent]]:
        """Clicks into the field, moves the caret to the end and plays the events. Returns
        the field's text before the events and what the injector reported."""
        self.session.focus_field(CAPTION, FIELD)
        self.session.play(harness.keystrokes(["End"], start_ms=0, hold_ms=20))
        before = self.session.text(CAPTION, FIELD)
        return before, self.session.play(events)


class MinimalDialog(WithSession):
    def test_typed_text_arrives_with_shift(self):
        events = [harness.KeyEvent(t, d, k) for t, d, k in [
            (50, True, "h"), (100, False, "h"), (150, True, "i"), (200, False, "i"),
            (250, True, "Shift_L"), (280, True, "a"), (320, False, "a"), (340, False, "Shift_L"),
            (400, True, "1"), (440, False, "1")]]
        before, sent = self.type_into_field(events)
        self.assertEqual([(e.at_ms, e.down, e.key) for e in sent],
                         [(e.at_ms, e.down, e.key) for e in events])
        # The masked field answers WM_GETTEXT across processes under Wine; the echo label
        # shows the same text from inside the program.
        self.assertEqual(self.session.texts(CAPTION, [FIELD, ECHO]), [before + "hiA1"] * 2)

    def test_keys_held_at_the_end_are_released(self):
        self.session.focus_field(CAPTION, FIELD)
        r = self.session.play([harness.KeyEvent(0, True, "Shift_L")])
        self.assertEqual(len(r), 1)
        # Were Shift still down, this would type "B".
        before, _ = self.type_into_field(harness.keystrokes(["b"], start_ms=50))
        self.assertEqual(self.session.text(CAPTION, FIELD), before + "b")

    def test_send_times_and_no_lost_keys(self):
        letters = [string.ascii_lowercase[i % 26] for i in range(100)]
        events = harness.keystrokes(letters, start_ms=100, hold_ms=25, gap_ms=40)
        before, sent = self.type_into_field(events)
        self.assertEqual(len(sent), 200)
        s = harness.distribution(e.lateness_ms for e in sent)
        print(f"\ninjector lateness over {int(s['n'])} events (ms): median {s['median']:.3f} "
              f"p95 {s['p95']:.3f} p99 {s['p99']:.3f} max {s['max']:.3f}", file=sys.stderr)
        self.assertTrue(all(e.lateness_ms >= 0 for e in sent), "an event was sent early")
        # The figures above are reported, not judged (the machine is shared and noisy); only a
        # gross drift, as from relative sleeps that add up, fails here.
        self.assertLess(s["median"], 20.0)
        self.assertEqual(self.session.text(CAPTION, FIELD), before + "".join(letters))

    def test_screenshot_is_the_window(self):
        with tempfile.TemporaryDirectory() as tmp:
            path = self.session.screenshot(CAPTION, Path(tmp) / "shot.png")
            r = subprocess.run(["identify", "-format", "%w %h %k", str(path)],
                               capture_output=True, text=True, check=True)
        w, h, colours = (int(v) for v in r.stdout.split())
        left, top, right, bottom = self.session.rect(CAPTION)
        self.assertEqual((w, h), (right - left, bottom - top))
        self.assertGreater(colours, 2, "the window looks blank")

    def test_probe_failures_are_reported(self):
        for args, rc in ((("wait", "No such window", "200"), 1), (("text", CAPTION, "4242"), 1),
                         (("click", "No such window", "2"), 1), (("text", CAPTION, "12x"), 1),
                         (("frobnicate", CAPTION), 2)):
            self.assertEqual(self.session.probe(*args, check=False).returncode, rc, args)


class WineExec(WithSession):
    def test_exit_code_is_the_programs(self):
        exec_sh = str(REPO / "scripts" / "wine-exec.sh")
        r = subprocess.run([exec_sh, str(OPTIONS.winprobe)], env=self.session.env,
                           capture_output=True, text=True, timeout=60)
        self.assertEqual(r.returncode, 2)
        r = subprocess.run([exec_sh, str(OPTIONS.winprobe), "text", CAPTION, str(CLOSE)],
                           env=self.session.env, capture_output=True, text=True, timeout=60)
        self.assertEqual((r.returncode, r.stdout), (0, "Close\n"))


class WineExecAlone(unittest.TestCase):
    """Without DISPLAY, wine-exec.sh opens and closes a session of its own around the run."""

    def test_own_session_is_torn_down(self):
        env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
        prefix = Path(env.get("TYPROVA_WINEPREFIX", REPO / "build" / "wineprefix"))
        r = subprocess.run([str(REPO / "scripts" / "wine-exec.sh"), str(OPTIONS.winprobe),
                            "wait", "No such window", "100"], env=env, capture_output=True,
                           text=True, timeout=300)
        self.assertEqual(r.returncode, 1, r.stderr)
        self.assertIn("no visible window", r.stderr)
        self.assertEqual(harness.prefix_pids(prefix), [], "a process of the session is left")
        with open(str(prefix) + ".lock", "w") as lock:  # the prefix is free again
            fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)


if __name__ == "__main__":
    sys.exit(driver.suite_main(default_app=REPO / "build/win64/bench/minimal_dialog.exe"))
