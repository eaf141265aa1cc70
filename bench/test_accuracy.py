"""Checks the accuracy bench's own logic without Wine or X: the typing schedules (synthetic, and
real typing cut into passwords, every key of the data set's format played or counted), the
matching of recorded events and the statistics.

    python3 bench/test_accuracy.py
"""

from __future__ import annotations

import math
import random
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import accuracy as acc  # noqa: E402


class Schedule(unittest.TestCase):
    def setUp(self):
        self.chunks = acc.make_schedule()

    def test_fixed_with_fifteen_characters_each(self):
        self.assertEqual(self.chunks, acc.make_schedule(), "same seed, same schedule")
        self.assertNotEqual(self.chunks, acc.make_schedule(seed=1))
        for chunk in self.chunks:
            self.assertEqual(sum(1 for _, d, k in chunk if d and acc.is_character(k)), 15)

    def test_events_are_well_formed(self):
        overlaps = shifted = 0
        for chunk in self.chunks:
            times = [t for t, _, _ in chunk]
            self.assertTrue(all(b - a >= 5 for a, b in zip(times, times[1:])),
                            "events closer than 5 ms or out of order")
            held: dict[str, float] = {}
            for t, down, key in chunk:
                if down:
                    self.assertNotIn(key, held, "a key pressed twice without release")
                    if len([k for k in held if acc.is_character(k)]) and acc.is_character(key):
                        overlaps += 1
                    shifted += key == acc.SHIFT
                    held[key] = t
                else:
                    hold = t - held.pop(key)
                    if acc.is_character(key):
                        self.assertTrue(30 <= hold <= 250 + 45 + 10 + 40, hold)
            self.assertEqual(held, {}, "a key is left held")
        self.assertGreater(overlaps, 10)
        self.assertGreater(shifted, 40)

    def test_pauses_in_range(self):
        rng = random.Random(5)
        for _ in range(50):
            chunk = acc.make_password(rng, overlap_rate=0.0, shift_rate=0.0)
            gaps = [chunk[i][0] - chunk[i - 1][0] for i in range(2, len(chunk), 2)]
            self.assertTrue(all(20 <= g <= 500.01 for g in gaps), gaps)


class Matching(unittest.TestCase):
    def test_compare_reports_errors_and_faults(self):
        errors = acc.Errors()
        sent = {("pressed", 1): 80.0, ("interval", 2): 120.0, ("pressed", 2): 50.0,
                ("pressed", 3): 40.0, ("interval", 3): math.nan, ("pressed", 4): 0.0}
        shown = {("pressed", 1): 80.5, ("interval", 2): 119.0, ("pressed", 2): 50.25,
                 ("pressed", 3): 0.0, ("interval", 3): 7.0, ("pressed", 4): 2.0}
        acc.compare_slots(shown, sent, errors, "t")
        self.assertEqual(errors.pressed, [0.5, 0.25, -40.0])
        self.assertEqual(errors.interval, [-1.0])
        self.assertEqual(len(errors.faults), 1)
        self.assertIn("pressed 4 shows 2.0 where nothing", errors.faults[0])

    def test_split_matches_the_record_with_what_was_sent(self):
        # The reference names keys by code: a password that matches gets its recorded times
        # with the keys as sent, one that differs says where; the record's length is checked.
        sent = [[(0, True, "a"), (50, False, "a")], [(0, True, "b"), (50, False, "b")]]
        a, b = [(1000, True, "65"), (1050, False, "65")], [(2000, True, "66"), (2050, False, "66")]
        b_as_sent = [(2000, True, "b"), (2050, False, "b")]
        for observed, second, rest in (
                (a + b, b_as_sent, ""),
                (a + b[:1], "event 2 is []..., sent [(False, '66')]...", "1 events missing"),
                (a + b + [(9, True, "67")], b_as_sent, "1 extra events recorded"),
                (a + b[::-1], "event 1 is [(False, '66'), (True, '66')]..., "
                              "sent [(True, '66'), (False, '66')]...", "")):
            parts, whole = acc.split_observed(observed, sent, {"a": "65", "b": "66"}.get)
            self.assertEqual(parts, [[(1000, True, "a"), (1050, False, "a")], second])
            self.assertEqual(whole, rest)

    def test_distribution_of_sizes_by_nearest_rank(self):
        values = [-(i + 1) / 10 for i in range(101)]  # |v| = 0.1 .. 10.1
        s = acc.harness.distribution(values)
        self.assertEqual((s["n"], s["median"], s["p95"], s["p99"], s["max"]),
                         (101, 5.1, 9.6, 10.0, 10.1))
        self.assertTrue(all(math.isnan(v) for k, v in acc.harness.distribution([]).items()
                            if k != "n"))


class RealTyping(unittest.TestCase):
    HEADER = ("PARTICIPANT_ID\tTEST_SECTION_ID\tSENTENCE\tUSER_INPUT\tKEYSTROKE_ID\t"
              "PRESS_TIME\tRELEASE_TIME\tLETTER\tKEYCODE\n")

    def test_every_key_code_played_as_typed_or_counted(self):
        # Shift+period types '>'; Caps Lock is a key of its own; Enter ends the password and
        # Control ends it with the key typed under it; code 229 (an input method) types nothing.
        keys = [("SHIFT", 16), ("H", 72), (">", 190), ("CAPS_LOCK", 20), ("i", 73), ("?", 229),
                ("ENTER", 13), ("CTRL", 17), ("v", 86), ("*", 106), ("1", 97), (";", 59)]
        rows = [f"5\t7\tHi\tHi\t{i}\t{1000 + 100 * i}\t{1050 + 100 * i}\t{letter}\t{code}"
                for i, (letter, code) in enumerate(keys)]
        rows[7] = rows[7].replace("\t1750\t", "\t1850\t")   # Control held over the v
        with tempfile.TemporaryDirectory() as d:
            (acc.Path(d) / "keyboard").mkdir()
            # The real files repeat a sentence's rows; each keystroke counts once.
            (acc.Path(d) / "keyboard" / "1_keystrokes.txt").write_text(
                self.HEADER + "\n".join(rows + rows[::-1]) + "\n")
            passwords, skipped = acc.real_schedule(acc.Path(d), passwords=0)
        self.assertEqual([[k for _, down, k in p if down] for p in passwords],
                         [["Shift_L", "h", "period", "Caps_Lock", "i"],
                          ["KP_Multiply", "1", "semicolon"]])
        self.assertEqual(sorted(skipped.values()), [1, 3])
        self.assertEqual(len(acc.replayed(passwords[0]).text), 3)

    def test_sentences_cut_at_word_boundaries_within_fifteen_characters(self):
        def strokes(text: str) -> list[acc.Keystroke]:
            return [acc.Keystroke(100 * i, 100 * i + 50, "space" if c == " " else c)
                    for i, c in enumerate(text)]
        cuts = acc.cut_passwords(strokes("we can discuss options abcdefghijklmnopqrs x"),
                                 acc.collections.Counter())
        texts = ["".join(" " if k.key == "space" else k.key for k in c) for c in cuts]
        self.assertEqual(texts, ["we can discuss ", "options ", "abcdefghijklmno", "pqrs x"])
        # Backspace shortens the text, so more keys fit in 15 characters.
        typo = strokes("abcdefghijklmn") + [acc.Keystroke(1500, 1550, "BackSpace")]
        typo += [acc.Keystroke(1600 + 100 * i, 1650 + 100 * i, c) for i, c in enumerate("op")]
        self.assertEqual(len(acc.cut_passwords(typo, acc.collections.Counter())), 1)

    def test_events_placed_within_their_millisecond_in_order(self):
        strokes = [acc.Keystroke(0, 100, "a"), acc.Keystroke(100, 180, "a"),
                   acc.Keystroke(150, 180, "b")]
        exact = acc.password_events(strokes)
        for seed in range(20):
            moved = acc.password_events(strokes, rng=random.Random(seed))
            self.assertEqual([(d, k) for _, d, k in moved], [(d, k) for _, d, k in exact])
            self.assertTrue(all(0 <= m[0] - e[0] < 1 for m, e in zip(moved, exact)))
            self.assertTrue(all(a[0] <= b[0] for a, b in zip(moved, moved[1:])))

    def test_unplayable_runs_and_a_second_shift(self):
        two_shifts = [acc.Keystroke(0, 300, "Shift_L"), acc.Keystroke(100, 400, "Shift_L"),
                      acc.Keystroke(150, 200, "a")]
        self.assertEqual([k for _, d, k in acc.password_events(two_shifts) if d],
                         ["Shift_L", "Shift_R", "a"])
        self.assertIsNone(acc.password_events([acc.Keystroke(0, 100, "a"),
                                               acc.Keystroke(50, 120, "a")]))
        # Shift with a caret key selects text: the model refuses it, so the run is left out.
        with self.assertRaises(ValueError):
            acc.filed(acc.password_events([acc.Keystroke(0, 300, "Shift_L"),
                                           acc.Keystroke(100, 150, "Home")]))

    def test_refiled_values_against_the_plain_reading(self):
        # "ab" rolled over and a capital C: b goes down before a is up, so both releases file
        # slot 2 (slot 1 stays empty) and Shift's release refiles slot 3.
        events = [(0, True, "a"), (80, True, "b"), (100, False, "a"), (160, False, "b"),
                  (300, True, "Shift_L"), (350, True, "c"), (420, False, "c"),
                  (450, False, "Shift_L")]
        self.assertEqual(acc.plain_slots(events),
                         {("pressed", 1): 100, ("pressed", 2): 80, ("interval", 2): -20,
                          ("pressed", 3): 70, ("interval", 3): 190})
        self.assertEqual(acc.count_refiled([events]), (5, 5))
        plain = [(0, True, "a"), (80, False, "a"), (200, True, "b"), (250, False, "b")]
        self.assertEqual(acc.count_refiled([plain]), (3, 0))

    def test_the_data_set_when_present(self):
        if not (acc.DEFAULT_DATA / "keyboard").is_dir():
            self.skipTest("no keyboard/ data set")
        chunks, _ = acc.real_schedule(passwords=0)
        self.assertGreater(len(chunks), 100)
        for chunk in chunks:
            self.assertLessEqual(len(acc.replayed(chunk).text), 15)
            for key in {k for _, _, k in chunk}:
                acc.key_code(key)   # every key has a code in the references


if __name__ == "__main__":
    unittest.main()
