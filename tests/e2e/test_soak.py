"""Soak test of Typrova.exe under Wine: thousands of random real key events (letters, Shift,
BackSpace, arrows, overlapping keys, X auto-repeat) into both fields, with "Clear" clicks in
between. The program must stay alive and answering, every label must match a replay of the
injected times, and its memory must not grow. The soak cannot type a chunk again: the
late-delivery policy judges all its values at the end.

    python3 tests/e2e/test_soak.py [--events N] [--seed S] [--injector P] [--winprobe P] [--app P]

The ctest form is short (about 500 events); scripts/soak.sh runs a long one.
"""

from __future__ import annotations

import random
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import driver  # noqa: E402
import harness  # noqa: E402
from driver import OPTIONS  # noqa: E402
from harness import KeyEvent  # noqa: E402
from replay import ENTERED, REENTERED  # noqa: E402

# X auto-repeat set for the session's own X server: a key held 300 ms repeats every 50 ms.
# The server makes the repeats, so the test knows when they are due but not exactly when they
# went out; a value measured from the k-th repeat may be off by a further 2 + 2k ms (seen: the
# server's repeat timer drifts about 1 ms per repeat on a busy machine).
REPEAT_DELAY_MS, REPEAT_INTERVAL_MS = 300, 50
MAX_REPEATS = 3

# RSS may grow a little while Wine warms caches (fonts, glyphs); more than this between the
# first and the last sample of a run is a leak.
RSS_GROWTH_LIMIT_KB = 2048
CHUNK_EVENTS = 60
LETTERS = "abcdefghijklmnopqrstuvwxyz0123456789"


class Script:
    """Builds one injector run; times in ms, every two events at least 12 ms apart so that
    delivery jitter cannot reorder them."""

    def __init__(self, rng: random.Random):
        self.rng = rng
        self.events: list[KeyEvent] = []
        self.holds: list[tuple[int, int]] = []  # keys held to repeat: (press's index, repeats)
        self.t = 50.0

    def at(self, down: bool, key: str, after: float) -> None:
        self.t += max(after, 12.0)
        self.events.append(KeyEvent(round(self.t, 3), down, key))

    def tap(self, key: str) -> None:
        self.at(True, key, self.rng.uniform(15, 150))
        self.at(False, key, self.rng.uniform(25, 110))

    def shifted(self, key: str) -> None:
        self.at(True, "Shift_L", self.rng.uniform(15, 150))
        self.at(True, key, self.rng.uniform(30, 80))
        self.at(False, key, self.rng.uniform(25, 110))
        self.at(False, "Shift_L", self.rng.uniform(20, 60))

    def overlap(self, a: str, b: str) -> None:
        self.at(True, a, self.rng.uniform(15, 150))
        self.at(True, b, self.rng.uniform(20, 60))
        self.at(False, a, self.rng.uniform(20, 60))
        self.at(False, b, self.rng.uniform(20, 80))

    def repeat(self, key: str) -> None:
        # Released 18-32 ms after the last wanted repeat: far enough from the next one that
        # the number of repeats cannot change with the server's drift.
        k = self.rng.randint(1, MAX_REPEATS)
        self.at(True, key, self.rng.uniform(40, 150))
        self.holds.append((len(self.events) - 1, k))
        hold = REPEAT_DELAY_MS + (k - 1) * REPEAT_INTERVAL_MS + self.rng.uniform(18, 32)
        self.at(False, key, hold)


def make_script(rng: random.Random, n_events: int, length: int) -> Script:
    """Random typing of about n_events events into a field that holds length characters.
    It starts with End: the click that gave the field the keyboard put the caret wherever it
    landed."""
    s = Script(rng)
    s.tap("End")
    while len(s.events) < n_events:
        # Keep the text mostly within the 15 measured positions, now and then beyond them.
        back = 0.8 if length > 17 else (0.05 if length < 3 else 0.15)
        x = rng.random()
        letter = rng.choice(LETTERS)
        if x < back:
            s.tap("BackSpace")
            length = max(0, length - 1)   # approximate: the caret may sit at the start
        elif x < back + 0.08:
            s.tap(rng.choice(["Left", "Right"]))
        elif x < back + 0.16:
            s.shifted(rng.choice("abcdefghijklmnopqrstuvwxyz"))
            length += 1
        elif x < back + 0.26:
            s.overlap(letter, rng.choice(LETTERS.replace(letter, "")))
            length += 2
        elif x < back + 0.30:
            key = "BackSpace" if length > 10 else letter
            s.repeat(key)
            length += (1 if key != "BackSpace" else -1) * (s.holds[-1][1] + 1)
            length = max(0, length)
        else:
            s.tap(letter)
            length += 1
    return s


def with_repeats(sent: list[KeyEvent], holds: list[tuple[int, int]]) -> list[KeyEvent]:
    """The events the program sees: the injector's, plus the X server's auto-repeat presses
    at their scheduled times (marked with how far off they may be)."""
    out = list(sent)
    for press_index, repeats in holds:
        press = sent[press_index]
        for k in range(1, repeats + 1):
            out.append(KeyEvent(press.at_ms, True, press.key, press.sent_ms + REPEAT_DELAY_MS
                                + (k - 1) * REPEAT_INTERVAL_MS, 2.0 + 2.0 * k))
    out.sort(key=lambda e: e.sent_ms)
    return out


class Soak(driver.Window):
    """One program; chunks of random typing into a random field, a check of the whole window
    after each chunk and after each "Clear"."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        harness.set_autorepeat(cls.session.display, REPEAT_DELAY_MS, REPEAT_INTERVAL_MS)

    def chunk(self, rng: random.Random, n_events: int) -> int:
        fld = rng.choice([ENTERED, REENTERED])
        self.focus(fld)
        script = make_script(rng, n_events, len(self.model.fields[fld].text))
        seen = with_repeats(self.play(script.events), script.holds)
        self.model.play(fld, seen)
        return len(seen)

    def test_soak(self):
        seed = OPTIONS.seed if OPTIONS.seed is not None else random.randrange(1 << 30)
        print(f"soak: seed {seed} (rerun with --seed {seed})", file=sys.stderr)
        rng = random.Random(seed)
        rss, done, clears = [], 0, 0
        started = time.monotonic()
        while done < OPTIONS.events:
            done += self.chunk(rng, min(CHUNK_EVENTS, max(OPTIONS.events - done, 8)))
            self.check_window(f"after {done} events")
            rss.append(harness.rss_kb(self.app.pid))
            if rng.random() < 0.25:
                self.clear(rng.choice([ENTERED, REENTERED]), mouse=rng.random() < 0.5)
                clears += 1
                self.check_window(f"after a clear at {done} events")
        seconds = time.monotonic() - started
        self.assertEqual(self.session.close(self.app), 0, "exit code after WM_CLOSE")
        print(f"soak: {done} key events ({self.model.stores} stored releases, {clears} clears) "
              f"in {seconds:.0f} s; RSS {rss[0]} KiB after the first chunk, {rss[-1]} KiB at the "
              f"end (max {max(rss)} KiB)", file=sys.stderr)
        self.assertLessEqual(rss[-1] - rss[0], RSS_GROWTH_LIMIT_KB, "memory grew")


def options(p) -> None:
    p.add_argument("--events", type=int, default=500)
    p.add_argument("--seed", type=int, default=None, help="default: random, printed")


if __name__ == "__main__":
    sys.exit(driver.suite_main(options, one_shot=True))
