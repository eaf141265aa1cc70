"""End-to-end test of Typrova.exe under Wine: types a password into both fields with real X key
events at human-like times and checks every timing label, the score and the verdict against a
replay of the injector's actual send times; then the slider, the "Clear" buttons and Escape.
ModelChecks hold the filing model itself on hand-made event streams (no Wine).
"""

from __future__ import annotations

import math
import random
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import driver  # noqa: E402
import harness  # noqa: E402
import replay  # noqa: E402
from driver import CAPTION  # noqa: E402
from harness import KeyEvent  # noqa: E402
from replay import ENTERED, REENTERED  # noqa: E402

PASSWORD = "Rhythm7x"


class TypingSession(driver.Window):
    """One program for the whole class; the steps run in the order of their names."""

    # --- steps ------------------------------------------------------------------------------

    def test_1_opens_empty(self):
        shown = self.shown()
        self.compare(shown)         # the empty model: every value exactly "0.00"
        self.check_result(shown)    # "0.00" and "Enter text"
        self.assertEqual(shown[replay.THRESHOLD_LABEL], "50.00")
        self.assertEqual(self.session.focused_id(CAPTION), ENTERED)

    def test_2_entered_table(self):
        shown, cmp = self.type_and_check(ENTERED, driver.human_typing(PASSWORD, seed=11),
                                         clear_first=True)
        self.assertEqual(shown[ENTERED], PASSWORD)
        # Slot 1 holds Shift's release (after the capital R): r-up to Shift-up as Pressed.
        # The overlapped pair "th" is released twice at length 5, so slot 4 stays 0.00 (an
        # exact check); the other 13 shown values are timings.
        self.assertEqual(cmp.compared, 13)
        self.assertEqual((shown[replay.pressed_label(ENTERED, 4)],
                          shown[replay.interval_label(ENTERED, 4)]), ("0.00", "0.00"))

    def test_3_reentered_table_score_and_verdict(self):
        # The same rhythm, 8 % slower: a similar typing that should pass at 50.00.
        typing = driver.human_typing(PASSWORD, seed=11, tempo=1.08)
        shown, _ = self.type_and_check(REENTERED, typing, clear_first=True)
        self.assertEqual(shown[replay.VERDICT_LABEL], "OK")

    def test_4_slider_moves_only_the_threshold(self):
        s = self.session
        before = self.shown()
        # Tab from the Re-entered field reaches the slider; the dialog takes the Tab press,
        # so no field stamps it.
        s.focus_field(CAPTION, REENTERED)
        s.play([KeyEvent(50, True, "Tab"), KeyEvent(120, False, "Tab")])
        self.assertEqual(s.focused_id(CAPTION), replay.SLIDER)
        for key, want in (("End", "100.00"), ("Home", "0.00"), ("Right", "0.01"),
                          ("End", "100.00")):
            s.play([KeyEvent(20, True, key), KeyEvent(80, False, key)])
            after = self.shown()
            self.assertEqual(after[replay.THRESHOLD_LABEL], want, f"after {key}")
            # Nothing else moved: not the verdict (still "OK" at a threshold of 100.00), not
            # the score, not a timing.
            self.assertEqual({k: v for k, v in after.items() if k != replay.THRESHOLD_LABEL},
                             {k: v for k, v in before.items() if k != replay.THRESHOLD_LABEL})
        self.model.set_slider(10000)

    def test_5_next_stored_release_uses_the_new_threshold(self):
        # A caret move stores the slot of the unchanged length (8) in the Entered table and
        # re-evaluates against the threshold now at 100.00. Repeating it only stores slot 8 again.
        left = driver.warm_up() + harness.keystrokes(["Left"], 300)
        shown, _ = self.type_and_check(ENTERED, left)
        self.assertLess(float(shown[replay.SCORE_LABEL]), 100.0)
        self.assertEqual(shown[replay.VERDICT_LABEL], "FAILED")

    def test_6_clear_buttons(self):
        # A real click empties the Entered field and its table only and takes the focus; the
        # model, cleared alike, holds every label, both texts and the result box.
        self.clear(ENTERED, mouse=True)
        shown = self.shown()
        self.compare(shown)
        self.check_result(shown)
        self.assertEqual(self.session.focused_id(CAPTION), replay.CLEAR_BUTTON[ENTERED])
        self.clear(REENTERED)   # BM_CLICK
        shown = self.shown()
        self.compare(shown)
        self.assertEqual(shown[REENTERED], "")

        # Typing works again after clicking back into a field.
        shown, cmp = self.type_and_check(ENTERED, driver.warm_up() + harness.keystrokes("abc", 300),
                                         clear_first=True)
        self.assertEqual(shown[ENTERED], "abc")
        self.assertEqual(cmp.compared, 5)

    def test_7_escape_closes(self):
        s = self.session
        s.focus_field(CAPTION, REENTERED)
        s.play([KeyEvent(50, True, "Escape"), KeyEvent(110, False, "Escape")])
        self.assertEqual(s.wait_exit(self.app, timeout=15), 0)
        self.assertEqual(s.probe("wait", CAPTION, "0", check=False).returncode, 1)


class ModelChecks(unittest.TestCase):
    """The replay rules on hand-made event streams and the late-delivery policy on made-up
    comparisons (no Wine); they pin the rules the end-to-end checks rely on."""

    needs = ("score_tool",)

    def test_late_delivery_policy(self):
        # Attempts over 20 labels, each the labels late in it (a capital: very late), typed
        # until Misses is settled; how many were typed, whether the typing fails, and whether
        # a suite that cannot retry (it counts every distinct value and fails very late ones
        # at once) fails. Label "z" is a miss an earlier check accepted (carried).
        def attempt(n: int, late: str) -> replay.Comparison:
            cmp = replay.Comparison(compared=20)
            cmp.values = [(cid, f"{n}", 0.0) for cid in range(20)]
            cmp.values.append((25, "z", 0.0))
            cmp.late = [v for v in cmp.values if chr(ord("a") + v[0]) in late]
            cmp.very_late = [v for v in cmp.values if chr(ord("A") + v[0]) in late]
            return cmp

        for attempts, typed, fails, suite_fails in (
                (["a", "a", "a", "a"], 4, True, True),        # the same label every time
                (["a", ""], 2, False, False),                 # late once, then on time
                (["a", "b", "ab"], 2, False, False),          # b was on time before: settled
                (["ab", "ac", "c"], 3, False, False),         # a on time at last
                (["abc", "bcd", "cde", "def"], 4, True, True),  # 3 of 20 at the end; 12 of 80
                (["A", "b"], 2, False, False),                # a stall, then noise
                (["A", "B", "C", "D"], 4, True, False),       # very late to the end
                (["z", "z", "za"], 1, False, False)):         # z is not counted again
            misses = driver.Misses(carried=frozenset({(25, "z", 0.0)}))
            for n, late in enumerate(attempts):
                misses.add(attempt(n, late))
                if misses.settled():
                    break
            self.assertEqual(n + 1, typed, attempts)
            self.assertEqual(bool(misses.failures()), fails, attempts)
            self.assertEqual(bool(misses.suite_failures()), suite_fails, attempts)

    def play(self, m: replay.Model, fld: int, rows, new_run=False):
        m.play(fld, [KeyEvent(t, d == "down", k, t) for t, d, k in rows], new_run=new_run)

    @staticmethod
    def shown(m: replay.Model, bias: float = 0.0) -> dict[int, str]:
        """The label texts a window shows for the model's values, each off by bias: "0.00"
        where nothing, or nothing known, was stored."""
        return {cid: "0.00" if math.isnan(v) or not v else f"{v + bias:.2f}"
                for cid, v in m.labels().items()}

    def test_overlap_and_shift_overwrite_slots(self):
        m = replay.Model()
        m.stamp(-100)  # a previous event 100 ms before
        self.play(m, ENTERED, [(0, "down", "a"), (50, "down", "b"), (80, "up", "a"),
                               (120, "up", "b")])
        # Both releases happen at length 2 and the second wins: interval = b down to a up,
        # pressed = a up to b up; slot 1 keeps its zero.
        slots = m.fields[ENTERED].slots
        self.assertEqual((slots["interval"][2].ms, slots["pressed"][2].ms), (30, 40))
        self.assertEqual(slots["pressed"][1].ms, 0.0)
        self.play(m, REENTERED, [(200, "down", "Shift_L"), (250, "down", "a"),
                                 (300, "up", "a"), (340, "up", "Shift_L")])
        self.assertEqual(m.fields[REENTERED].text, "A")
        slots = m.fields[REENTERED].slots
        self.assertEqual((slots["interval"][1].ms, slots["pressed"][1].ms), (50, 40))

    def test_backspace_caret_and_length_limits(self):
        m = replay.Model()
        m.stamp(0)
        rows, t = [], 10
        for ch in "abcdefghijklmnopq":       # 17 characters
            rows += [(t, "down", ch), (t + 20, "up", ch)]
            t += 40
        self.play(m, ENTERED, rows)
        f = m.fields[ENTERED]
        self.assertEqual(f.slots["pressed"][15].ms, 20)
        pressed_before = list(f.slots["pressed"])
        self.play(m, ENTERED, [(t, "down", "Left"), (t + 30, "up", "Left")])
        self.assertEqual(f.slots["pressed"], pressed_before)   # length 17: nothing stored
        self.play(m, ENTERED, [(t + 60, "down", "BackSpace"),
                               (t + 75, "up", "BackSpace")])
        self.assertEqual((f.text, f.caret), ("abcdefghijklmnoq", 15))
        for i in range(15):
            self.play(m, ENTERED, [(t + 100 + 40 * i, "down", "Left"),
                                   (t + 110 + 40 * i, "up", "Left")])
        self.play(m, ENTERED, [(t + 800, "down", "BackSpace"), (t + 810, "up", "BackSpace")])
        self.assertEqual(f.text, "abcdefghijklmnoq")    # caret at 0: nothing deleted

    def test_unknown_gaps_after_a_new_run(self):
        m = replay.Model()
        self.play(m, ENTERED, [(0, "down", "a"), (30, "up", "a"), (60, "down", "b"),
                               (100, "up", "b")], new_run=True)
        labels = m.labels()
        # The first event's time is not trusted: key 1's pressed is unknown, key 2 is known.
        self.assertTrue(math.isnan(labels[replay.pressed_label(ENTERED, 1)]))
        self.assertEqual(labels[replay.pressed_label(ENTERED, 2)], 40)
        self.assertEqual(labels[replay.interval_label(ENTERED, 2)], 30)
        shown = self.shown(m)
        self.assertFalse(m.compare(shown, 3.0, 100.0).bad)
        shown[replay.pressed_label(ENTERED, 2)] = "nan"     # a label no comparison holds
        self.assertEqual(len(m.compare(shown, 3.0, 100.0).bad), 1)

    def test_late_events_move_values_one_way_only(self):
        # Keys a-d, then e pressed while d is down. Beyond the 3 ms tolerance a press may come
        # up to 25 ms late and a release up to 6 ms; a late event shortens the value measured
        # from it and lengthens the one measured to it. Rows: how late each event came, a bias
        # added to every value; how many of the 6 timed values miss, and the mean error of the
        # keys' Interval and Pressed together (the bias check's figure).
        events = [(t, d, k) for i, k in enumerate("abcd")
                  for t, d in ((200 * i, "down"), (200 * i + 80, "up"))][:-1]
        events += [(700, "down", "e"), (720, "up", "d"), (800, "up", "e")]
        m = replay.Model()
        self.play(m, ENTERED, events, new_run=True)
        for name, late, bias, misses, key_mean in (
                ("every press 20 ms late", lambda d, k: 20 * (d == "down"), 0, 0, 0.0),
                ("e's press 25 ms late", lambda d, k: 25 * ((d, k) == ("down", "e")), 0, 0, 0.0),
                ("every press 30 ms late", lambda d, k: 30 * (d == "down"), 0, 5, None),
                ("every release 5 ms late", lambda d, k: 5 * (d == "up"), 0, 0, 0.0),
                ("every release 10 ms late", lambda d, k: 10 * (d == "up"), 0, 5, None),
                ("presses 20 ms late, every value 2 ms long", lambda d, k: 20 * (d == "down"), 2,
                 0, 2.0)):
            moved = replay.Model()
            self.play(moved, ENTERED, [(t + late(d, k), d, k) for t, d, k in events],
                      new_run=True)
            shown = self.shown(moved, bias)
            cmp = m.compare(shown, 3.0, 100.0, (25.0, 6.0))
            self.assertEqual(len(cmp.missed), misses, (name, cmp.describe()))
            if key_mean is not None:
                self.assertTrue(cmp.pairs, name)
                self.assertAlmostEqual(sum(cmp.pairs.values()) / len(cmp.pairs), key_mean,
                                       delta=0.01, msg=name)
        # One Pressed 20 ms short, its Interval on time: no late press does that.
        shown = self.shown(m)
        p3 = replay.pressed_label(ENTERED, 3)
        shown[p3] = f"{m.labels()[p3] - 20:.2f}"
        self.assertEqual([v[0] for v in m.compare(shown, 3.0, 100.0, (25.0, 6.0)).missed], [p3])

    def test_result_box_follows_the_slider_of_the_last_evaluation(self):
        m = replay.Model()
        m.stamp(-100)
        self.play(m, ENTERED, [(0, "down", "a"), (80, "up", "a")])
        self.assertIsNone(m.eval_n)
        self.play(m, REENTERED, [(200, "down", "a"), (300, "up", "a")])
        self.assertEqual((m.eval_n, m.eval_threshold), (1, 50.0))
        m.set_slider(9000)
        self.assertEqual(m.eval_threshold, 50.0, "a slider move alone changes no verdict")
        m.evaluate()
        self.assertEqual(m.eval_threshold, 90.0)
        # Pressed 80 against 100: a mismatch of 20 over a mean of 90.
        self.assertAlmostEqual(replay.similarity_bounds([(80.0, 100.0)], 0.0)[0], 7 / 9)

    def test_score_bounds_hold_every_table_within_the_error(self):
        rng = random.Random(7)
        for _ in range(40):
            pairs = [(0.0 if rng.random() < 0.1 else round(rng.uniform(5, 300), 2),
                      round(rng.uniform(5, 300), 2)) for _ in range(rng.randint(1, 9))]
            err = rng.choice([0.005, 3.0])
            lo, hi = replay.similarity_bounds(pairs, err)
            self.assertEqual(replay.similarity_bounds(pairs, 0.0),
                             (replay.similarities([replay._tables(pairs)])[0],) * 2)
            for _ in range(5):
                moved = [tuple(v and max(v + rng.uniform(-err, err), 0.0) for v in p)
                         for p in pairs]
                self.assertTrue(lo <= replay.similarities([replay._tables(moved)])[0] <= hi,
                                (pairs, moved, err))


if __name__ == "__main__":
    sys.exit(driver.suite_main())
