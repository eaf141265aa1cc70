"""Checks the accuracy bench's own logic without Wine or X: the typing schedules (synthetic, and
real typing cut into passwords), the program's timing rule as the bench replays it, the
matching of recorded events and the statistics.

    python3 bench/test_accuracy.py
"""

from __future__ import annotations

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

    def test_fixed_and_large_enough(self):
        self.assertEqual(self.chunks, acc.make_schedule(), "same seed, same schedule")
        self.assertNotEqual(self.chunks, acc.make_schedule(seed=1))
        chars = [k for c in self.chunks for _, d, k in c if d and acc.is_character(k)]
        self.assertGreaterEqual(len(chars), 600)
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


class TimingRule(unittest.TestCase):
    def test_one_key_at_a_time(self):
        events = [(0, True, "a"), (80, False, "a"), (200, True, "b"), (250, False, "b")]
        self.assertEqual(acc.slots_from_times(events), {1: (None, 80), 2: (120, 50)})

    def test_shift_release_overwrites_the_position(self):
        # The later Shift release refiles position 2 with the last two gaps, as the window does.
        events = [(0, True, "a"), (50, False, "a"), (100, True, "Shift_L"), (130, True, "b"),
                  (200, False, "b"), (240, False, "Shift_L")]
        self.assertEqual(acc.slots_from_times(events), {1: (None, 50), 2: (70, 40)})

    def test_overlap_files_both_releases_under_the_new_length(self):
        events = [(0, True, "a"), (100, True, "b"), (120, False, "a"), (180, False, "b")]
        self.assertEqual(acc.slots_from_times(events), {2: (20, 60)})

    def test_lengths_past_fifteen_store_nothing(self):
        events = []
        for i in range(17):
            events += [(i * 100.0, True, "a"), (i * 100.0 + 40, False, "a")]
        slots = acc.slots_from_times(events)
        self.assertEqual(sorted(slots), list(range(1, 16)))
        self.assertEqual(slots[15], (60.0, 40.0))


class Matching(unittest.TestCase):
    def test_compare_reports_errors_and_faults(self):
        errors = acc.Errors()
        sent = {1: (None, 80.0), 2: (120.0, 50.0), 3: (30.0, 40.0)}
        shown = {1: (0.0, 80.5), 2: (119.0, 50.25), 4: (1.0, 2.0)}
        acc.compare_slots(shown, sent, errors, "t")
        self.assertEqual(errors.pressed, [0.5, 0.25])
        self.assertEqual(errors.interval, [-1.0])
        self.assertEqual(len(errors.faults), 2)
        self.assertIn("position 3 not measured", errors.faults[0])
        self.assertIn("position 4 measured but nothing", errors.faults[1])

    def test_split_drops_a_password_with_a_lost_event(self):
        chunks = [[(0, True, "a"), (50, False, "a")], [(0, True, "b"), (50, False, "b")]]
        observed = [(1000, True, "a"), (1050, False, "a"), (2000, True, "b")]
        errors = acc.Errors()
        parts = acc.split_observed(observed, chunks, errors, "ref")
        self.assertEqual(parts[0], observed[:2])
        self.assertIsNone(parts[1])
        self.assertEqual(len(errors.faults), 2)
        self.assertIn("password 2", errors.faults[0])
        self.assertIn("1 events missing", errors.faults[1])
        errors = acc.Errors()
        acc.split_observed(observed[:2] + [(2000, True, "b"), (2050, False, "b"), (9, True, "c")],
                           chunks, errors, "ref")
        self.assertIn("1 extra events", errors.faults[-1])

    def test_summary_uses_absolute_values_and_nearest_rank(self):
        values = [-(i + 1) / 10 for i in range(100)]  # |v| = 0.1 .. 10.0
        s = acc.summary(values)
        self.assertEqual((s["n"], s["median"], s["p95"], s["p99"], s["max"]),
                         (100, 5.0, 9.5, 9.9, 10.0))
        self.assertTrue(all(v != v for k, v in acc.summary([]).items() if k != "n"))

    def test_table_read_back_from_labels(self):
        grid = acc.fields(acc.resource_ids())
        self.assertEqual([len(f.pressed) + len(f.intervals) for f in grid], [29, 29])
        ids = {i for f in grid for i in [*f.pressed.values(), *f.intervals.values(), f.edit,
                                         f.clear]}
        self.assertEqual(len(ids), 62, "label ids must all differ")
        f = grid[1]
        texts = {i: "0.00" for i in [*f.pressed.values(), *f.intervals.values()]}
        texts[f.pressed[1]] = "96.45"
        texts[f.pressed[2]], texts[f.intervals[2]] = "69.53", "391.23"
        self.assertEqual(acc.parse_table(f, texts), {1: (None, 96.45), 2: (391.23, 69.53)})

    def test_key_names_of_the_references(self):
        self.assertEqual([acc.browser_code(k) for k in ("q", "7", "Shift_L")],
                         ["KeyQ", "Digit7", "ShiftLeft"])
        self.assertEqual([acc.vk_key(v) for v in (0x51, 0x37, 0x10)], ["q", "7", "Shift_L"])


class RealTyping(unittest.TestCase):
    HEADER = ("PARTICIPANT_ID\tTEST_SECTION_ID\tSENTENCE\tUSER_INPUT\tKEYSTROKE_ID\t"
              "PRESS_TIME\tRELEASE_TIME\tLETTER\tKEYCODE\n")

    def test_backspace_and_caret_keys_change_the_filed_length(self):
        events = [(0, True, "a"), (50, False, "a"), (100, True, "b"), (150, False, "b"),
                  (200, True, "BackSpace"), (260, False, "BackSpace"),     # refiles 1
                  (300, True, "Home"), (340, False, "Home"),               # refiles 1 again
                  (400, True, "BackSpace"), (430, False, "BackSpace"),     # caret 0: keeps a
                  (500, True, "Right"), (520, False, "Right"),       # refiles 1
                  (600, True, "space"), (650, False, "space")]             # "a " -> 2
        self.assertEqual(acc.slots_from_times(events), {1: (70, 20), 2: (80, 50)})
        self.assertEqual(acc.final_length(events), 2)

    def test_file_read_once_per_keystroke_in_press_order(self):
        rows = ["5\t7\tHi.\tHi.\t204\t1000\t1168\tSHIFT\t16",
                "5\t7\tHi.\tHi.\t203\t1109\t1168\tH\t72",
                "5\t7\tHi.\tHi.\t205\t1246\t1318\ti\t73",
                "5\t7\tHi.\tHi.\t206\t1390\t1450\t?\t191"]
        with tempfile.TemporaryDirectory() as d:
            path = acc.Path(d) / "1_keystrokes.txt"
            # The real files repeat a sentence's rows; each keystroke counts once.
            path.write_text(self.HEADER + "\n".join(rows + rows[::-1]) + "\n")
            (sentence,) = acc.read_keyboard(path)
        self.assertEqual([(k.press, k.release, k.key) for k in sentence],
                         [(1000, 1168, "Shift_L"), (1109, 1168, "h"), (1246, 1318, "i"),
                          (1390, 1450, "slash")])
        self.assertEqual(acc.password_events(sentence)[:4],
                         [(60, True, "Shift_L"), (169, True, "h"), (228, False, "Shift_L"),
                          (228, False, "h")])

    def test_sentences_cut_at_word_boundaries_within_fifteen_characters(self):
        def strokes(text: str) -> list[acc.Keystroke]:
            return [acc.Keystroke(100 * i, 100 * i + 50, "space" if c == " " else c)
                    for i, c in enumerate(text)]
        cuts = acc.cut_passwords(strokes("we can discuss options abcdefghijklmnopqrs x"))
        texts = ["".join(" " if k.key == "space" else k.key for k in c) for c in cuts]
        self.assertEqual(texts, ["we can discuss ", "options ", "abcdefghijklmno", "pqrs x"])
        # Backspace shortens the text, so more keys fit in 15 characters.
        typo = strokes("abcdefghijklmn") + [acc.Keystroke(1500, 1550, "BackSpace")]
        typo += [acc.Keystroke(1600 + 100 * i, 1650 + 100 * i, c) for i, c in enumerate("op")]
        self.assertEqual(len(acc.cut_passwords(typo)), 1)

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
        self.assertIsNone(acc.password_events([acc.Keystroke(0, 300, "Shift_L"),
                                               acc.Keystroke(100, 150, "Home")]))

    def test_refiled_values_against_the_plain_reading(self):
        # "ab" rolled over and a capital C: b goes down before a is up, so both releases file
        # slot 2 (slot 1 stays empty) and Shift's release refiles slot 3.
        events = [(0, True, "a"), (80, True, "b"), (100, False, "a"), (160, False, "b"),
                  (300, True, "Shift_L"), (350, True, "c"), (420, False, "c"),
                  (450, False, "Shift_L")]
        self.assertEqual(acc.plain_slots(events), {1: (None, 100), 2: (-20, 80), 3: (190, 70)})
        self.assertEqual(acc.slots_from_times(events), {2: (20, 60), 3: (70, 30)})
        self.assertEqual(acc.count_refiled([events]), (5, 5))
        plain = [(0, True, "a"), (80, False, "a"), (200, True, "b"), (250, False, "b")]
        self.assertEqual(acc.count_refiled([plain]), (3, 0))

    def test_the_data_set_when_present(self):
        if not (acc.DEFAULT_DATA / "keyboard").is_dir():
            self.skipTest("no keyboard/ data set")
        chunks = acc.real_schedule(passwords=0)
        self.assertGreater(len(chunks), 100)
        self.assertEqual(acc.real_schedule(), chunks[:40])
        for chunk in chunks:
            self.assertTrue(1 <= max(len(acc.slots_from_times(chunk)), 1) <= 15)
            self.assertLessEqual(acc.final_length(chunk), 15)
            self.assertTrue(60.0 <= chunk[0][0] < 61.0)
            for key in {k for _, _, k in chunk}:
                acc.browser_code(key)   # every key has a code in the browser reference


if __name__ == "__main__":
    unittest.main()
