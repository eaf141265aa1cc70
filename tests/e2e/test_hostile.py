"""End-to-end tests of hostile input into Typrova.exe under Wine, with real keys where they
exist: equal 15-character texts followed by a 16th character in each field; keys sent while
the About box is open; Alt combinations and F10; a burst of 2,000 auto-repeated presses of one
key; a paste of 100,000 characters (the clipboard and Ctrl+V) followed by typing. After each
case the program must be alive and answering, its tables and result box must equal the replay
of the injected times, and its memory must not have grown by more than 2 MiB.
"""

from __future__ import annotations

import math
import sys
import time
from pathlib import Path
from typing import Callable

sys.path.insert(0, str(Path(__file__).resolve().parent))
import driver  # noqa: E402
import harness  # noqa: E402
import replay  # noqa: E402
from driver import CAPTION, warm_up  # noqa: E402
from harness import KeyEvent, keystrokes  # noqa: E402
from replay import ENTERED, REENTERED  # noqa: E402

ABOUT_CAPTION = "About Typrova"
IDM_ABOUTBOX = 0x10
EM_GETLIMITTEXT = 0x00D5
RSS_GROWTH_LIMIT_KB = 2048

# What becomes of an injected event in the program: typed into a field like any key, only a
# stamp of the clock (a key press that changes no text), or nothing (the dialog, the About
# box or the system-key handling took it).
KEY, STAMP, NOTHING = "key", "stamp", "nothing"


class Hostile(driver.Window):
    """One program for the whole class; the cases run in the order of their names. A case
    cannot be typed again, so the late-delivery policy judges the suite's values at the end.
    Every fault these cases look for moves a value by a whole gap between two events of the
    case, 40 ms or more: at least 15 ms past what late events may do (driver.LAG_MS, 25 ms for
    a press), so past late_ms, it fails at once."""

    late_ms = 10.0

    def setUp(self):
        self.rss_before = harness.rss_kb(self.app.pid)

    # --- helpers ----------------------------------------------------------------------------

    def feed(self, sent: list[KeyEvent], route: Callable[[KeyEvent], tuple[str, int]]) -> None:
        """Replays one injector run into the model; route(event) says what the event became
        and in which field. The run's first event has an untrusted time (replay.Model.play)."""
        m = self.model
        m.break_clock()
        for i, e in enumerate(sent):
            what, fld = route(e)
            err = math.inf if i == 0 else 0.0
            if what == KEY:
                m.key(fld, e.sent_ms, e.down, e.key, err)
            elif what == STAMP:
                m.stamp(e.sent_ms, err, e.down)

    def clear_both(self) -> None:
        for fld in (ENTERED, REENTERED):
            self.clear(fld)

    def check_window(self, case: str) -> dict[int, str]:
        """The window as the replay has it (driver.Window.check_window); memory grown by no
        more than the limit since the case began."""
        shown, cmp = super().check_window(case)
        rss_after = harness.rss_kb(self.app.pid)
        growth = rss_after - self.rss_before
        print(f"{case}: RSS {self.rss_before} -> {rss_after} KiB ({growth:+d} KiB), "
              f"{cmp.compared} values compared (max diff {cmp.max_diff:.2f} ms), answered in "
              f"{self.answer_s:.2f} s, result {shown[replay.SCORE_LABEL]} "
              f"{shown[replay.VERDICT_LABEL]}", file=sys.stderr)
        self.assertLessEqual(growth, RSS_GROWTH_LIMIT_KB, f"{case}: memory grew by {growth} KiB")
        return shown

    # --- cases ------------------------------------------------------------------------------

    def test_1_sixteenth_character_after_equal_fifteen(self):
        s = self.session
        word = "qwertyuiopasdfg"
        s.focus_field(CAPTION, ENTERED)
        first = keystrokes(word, 300)
        t = first[-1].at_ms + 100
        tab = [KeyEvent(t, True, "Tab"), KeyEvent(t + 60, False, "Tab")]
        second = keystrokes(word + "h", t + 200, hold_ms=55)
        sent = self.play(warm_up() + first + tab + second)
        field = [ENTERED]

        def route(e: KeyEvent) -> tuple[str, int]:
            if e.key == "Tab" and e.down:
                field[0] = REENTERED     # the dialog takes the press and moves the focus
                return NOTHING, REENTERED
            return KEY, field[0]
        self.feed(sent, route)
        self.assertEqual(self.model.fields[REENTERED].text, word + "h")
        self.assertIsNotNone(self.model.eval_n, "the two texts differ")
        before = self.check_window("16th character in the second field")

        # The 16th character of the first field: a click at the field's right end puts the
        # caret after the text.
        s.focus_window(CAPTION)
        left, top, right, bottom = s.rect(CAPTION, ENTERED)
        s.click_at(right - 6, (top + bottom) // 2)
        s.wait_focus(CAPTION, ENTERED)
        self.model.fields[ENTERED].caret = len(word)
        # No Shift warm-up here: its release would file slot 15 again.
        sent = self.play(keystrokes("h", 300))
        self.model.play(ENTERED, sent)
        after = self.check_window("16th character in the first field")
        self.assertEqual({k: v for k, v in after.items() if k != ENTERED},
                         {k: v for k, v in before.items() if k != ENTERED},
                         "a 16th character changed a table or the result")

    def test_2_keys_while_the_about_box_is_open(self):
        # One injector run: a key into the field, three keys while the About box is open,
        # a key into the field again. Had the About keys stamped the clock, the last key's
        # interval would be measured from them, about 3 s short.
        s = self.session
        self.clear_both()
        s.focus_field(CAPTION, ENTERED)
        about_keys = keystrokes("qwe", 3000)
        events = warm_up() + keystrokes("x", 400) + about_keys + keystrokes("z", 6500)
        times = {}

        def about_box() -> None:
            """Opens the About box before its keys and closes it before the last key."""
            started = time.monotonic()
            time.sleep(0.8)
            s.probe("syscommand", CAPTION, str(IDM_ABOUTBOX))
            s.wait_window(ABOUT_CAPTION, 2000)
            times["opened"] = time.monotonic() - started
            while time.monotonic() - started < 3.7:
                time.sleep(0.05)
            s.probe("close", ABOUT_CAPTION)
            while s.probe("wait", ABOUT_CAPTION, "0", check=False).returncode == 0:
                time.sleep(0.05)
            times["closed"] = time.monotonic() - started
        sent = self.play(events, during=about_box)
        opened, closed = times["opened"], times["closed"]
        # The About box was up before its keys and gone before the last key (else the run
        # does not test what it means to).
        self.assertLess(opened, about_keys[0].at_ms / 1000, "the About box opened too late")
        self.assertGreater(closed, about_keys[-1].at_ms / 1000)
        self.assertLess(closed, 6.3, "the About box closed too late")
        self.assertEqual(s.focused_id(CAPTION), ENTERED)
        about = {id(e) for e in sent if e.key in ("q", "w", "e")}
        self.feed(sent, lambda e: (NOTHING, ENTERED) if id(e) in about else (KEY, ENTERED))
        self.assertEqual(self.model.fields[ENTERED].text, "xz")
        self.check_window("keys while the About box is open")

    def test_3_alt_combinations_and_f10(self):
        # Alt+Q, Alt+Shift+K and F10 twice (the first enters the menu mode, the second leaves
        # it) go to the field as system keys and stamp nothing. The release of Alt after a
        # combination comes as an ordinary key release, which is timed like any other key.
        s = self.session
        s.focus_field(CAPTION, REENTERED)
        t = 400.0
        events = warm_up() + keystrokes("b", t)
        t += 300
        for combo in (["q"], ["Shift_L", "k"]):
            events.append(KeyEvent(t, True, "Alt_L"))
            t += 60
            for k in combo:
                events.append(KeyEvent(t, True, k))
                t += 40
            for k in reversed(combo):
                events.append(KeyEvent(t, False, k))
                t += 40
            events.append(KeyEvent(t, False, "Alt_L"))
            t += 300
        events += keystrokes(["F10", "F10"], t, gap_ms=300)
        events += keystrokes("c", t + 900)
        sent = self.play(events)
        alt = [False]

        def route(e: KeyEvent) -> tuple[str, int]:
            if e.key == "Alt_L":
                alt[0] = e.down
                return (NOTHING if e.down else KEY), REENTERED
            if alt[0] or e.key == "F10":
                return NOTHING, REENTERED
            return KEY, REENTERED
        self.feed(sent, route)
        self.assertEqual(self.model.fields[REENTERED].text, "bc")
        self.check_window("Alt combinations and F10")

    def test_4_burst_of_auto_repeated_presses(self):
        s = self.session
        delay_ms, interval_ms, repeats = 100, 3, 2000
        saved = harness.get_autorepeat(s.display)
        harness.set_autorepeat(s.display, delay_ms, interval_ms)
        try:
            self.clear_both()
            s.focus_field(CAPTION, ENTERED)
            # Held half as long again as 2,000 repeats take: the server's repeat timer falls
            # behind by up to a tenth on a noisy machine.
            hold = delay_ms + (repeats - 1) * interval_ms * 1.5 + interval_ms / 2
            events = warm_up() + [KeyEvent(300, True, "k"), KeyEvent(300 + hold, False, "k")]
            t0 = time.monotonic()
            sent = self.play(events)
            # The program may still be working through the repeats: wait until the text stops
            # growing.
            length, stable_since = -1, time.monotonic()
            while time.monotonic() - stable_since < 1.0:
                n = len(s.text(CAPTION, ENTERED))
                if n != length:
                    length, stable_since = n, time.monotonic()
                time.sleep(0.2)
            seconds = time.monotonic() - t0
        finally:
            harness.set_autorepeat(s.display, *saved)
        got = length - 1
        self.assertGreaterEqual(got, repeats, "fewer auto-repeated presses than meant")
        # The repeats come from the X server: their times are not known, so what they stamp
        # is not compared; the release at length > 15 files nothing.
        press, release = sent[2], sent[3]
        repeat = KeyEvent(press.at_ms, True, "k", press.sent_ms, err_ms=math.inf)
        self.model.play(ENTERED, sent[:3] + [repeat] * got + [release])
        print(f"burst: {got} auto-repeated presses of one key (server delay {delay_ms} ms, "
              f"interval {interval_ms} ms) processed in {seconds:.1f} s", file=sys.stderr)
        self.check_window("burst of auto-repeated presses")

    def test_5_paste_of_100000_characters_then_typing(self):
        s = self.session
        self.clear_both()
        s.focus_field(CAPTION, ENTERED)
        limit = int(s.probe("send", CAPTION, str(ENTERED), str(EM_GETLIMITTEXT)).stdout)
        s.probe("clip", "100000")
        ctrl_v = [KeyEvent(300, True, "Control_L"), KeyEvent(350, True, "v"),
                  KeyEvent(400, False, "v"), KeyEvent(450, False, "Control_L")]
        sent = self.play(warm_up() + ctrl_v + keystrokes("abc", 700))
        clip = "".join(chr(ord("a") + i % 26) for i in range(100000))

        def route(e: KeyEvent) -> tuple[str, int]:
            if e.down and e.key == "v":
                # Ctrl+V pastes what fits under the field's limit; the press itself is timed.
                f = self.model.fields[ENTERED]
                room = max(0, limit - len(f.text))
                f.text = f.text[:f.caret] + clip[:room] + f.text[f.caret:]
                f.caret += min(room, len(clip))
                return STAMP, ENTERED
            if e.down and (e.key == "Control_L" or len(self.model.fields[ENTERED].text) >= limit):
                return STAMP, ENTERED   # a key that adds no text (the field is full)
            return KEY, ENTERED
        self.feed(sent, route)
        self.assertEqual(len(self.model.fields[ENTERED].text), limit)
        self.check_window(f"paste of 100,000 characters (limit {limit}) and typing")

        # The other field still times and files every key, and the texts differ.
        s.focus_field(CAPTION, REENTERED)
        sent = self.play(warm_up() + keystrokes("abc", 300))
        self.model.play(REENTERED, sent)
        self.check_window("typing after the paste")


if __name__ == "__main__":
    sys.exit(driver.suite_main(one_shot=True))
