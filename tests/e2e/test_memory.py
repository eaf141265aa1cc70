"""End-to-end test that Typrova leaves no copy of a password in its memory: a password with
capitals and digits is typed by the key injector into the first field, Tab, the same into the
second, then both "Clear" buttons are pressed; the program's memory is read from outside
(/proc/PID/mem of its Wine process) at each step. While the password is in the fields the
only copies allowed are the edit controls' own UTF-16 buffers (no ANSI copy at all); after
both "Clear" no copy and no long piece of one may be left. The fields' texts are never read
through the probe: a cross-process WM_GETTEXT makes the program copy the text into a reply
buffer of its own, which would be a copy this test put there itself. Reading the memory needs
permission to trace the process (same user, or root).
"""

from __future__ import annotations

import random
import string
import sys
import time
from dataclasses import dataclass
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import driver  # noqa: E402
import replay  # noqa: E402
from driver import CAPTION  # noqa: E402
from harness import KeyEvent  # noqa: E402
from replay import ENTERED, REENTERED  # noqa: E402

LENGTH = 14
# A piece of the password of 8 characters or more counts as a copy after "Clear" (a buffer
# emptied by writing a terminator at its start still holds everything after it). It always
# contains one of the 6-character pieces that start every 3 characters, which are what the
# scan looks for.
PIECE, STRIDE = 6, 3
CHUNK = 64 << 20   # the scan reads a large mapping in pieces of this size


@dataclass
class Hit:
    address: int
    mapping: str   # the maps line of the mapping that holds it


@dataclass
class ScanResult:
    hits: dict[str, list[Hit]]
    bytes_read: int
    mappings_read: int
    mappings_skipped: int   # readable by their flags, yet refused by the kernel ([vvar], ...)

    def count(self, name: str) -> int:
        return len(self.hits[name])


def encodings(text: str) -> dict[str, bytes]:
    """The forms a Windows program keeps text in: ANSI (one byte a character; the tests use
    ASCII only) and UTF-16 little-endian."""
    return {"ansi": text.encode("latin-1"), "utf16": text.encode("utf-16-le")}


def scan_memory(pid: int, needles: dict[str, bytes]) -> ScanResult:
    """Every occurrence of every needle in the readable memory of process pid. Large mappings
    are read in chunks that overlap by the longest needle, so no hit is lost at a seam."""
    hits: dict[str, list[Hit]] = {name: [] for name in needles}
    overlap = max(len(n) for n in needles.values()) - 1
    total = read = skipped = 0
    with open(f"/proc/{pid}/maps") as maps, open(f"/proc/{pid}/mem", "rb", buffering=0) as mem:
        for line in maps:
            fields = line.split()
            if fields[1][0] != "r":
                continue
            start, end = (int(v, 16) for v in fields[0].split("-"))
            seen = set()
            ok = True
            pos = start
            while pos < end:
                size = min(CHUNK, end - pos)
                try:
                    mem.seek(pos)
                    data = mem.read(size + (overlap if pos + size < end else 0))
                except (OSError, ValueError, OverflowError):
                    ok = False
                    break
                if not data:
                    break
                total += min(len(data), size)
                for name, needle in needles.items():
                    i = data.find(needle)
                    while i >= 0:
                        address = pos + i
                        if (name, address) not in seen:
                            seen.add((name, address))
                            hits[name].append(Hit(address, line.strip()))
                        i = data.find(needle, i + 1)
                pos += size
            if ok:
                read += 1
            else:
                skipped += 1
    return ScanResult(hits, total, read, skipped)


def make_password(rng: random.Random) -> str:
    """LENGTH characters from letters and digits, with at least three capitals and three
    digits, no character twice (so a piece of it cannot match another piece)."""
    while True:
        chars = rng.sample(string.ascii_letters + string.digits, LENGTH)
        if sum(c.isupper() for c in chars) >= 3 and sum(c.isdigit() for c in chars) >= 3:
            return "".join(chars)


def needles(password: str) -> dict[str, bytes]:
    out = {f"{form} copy": data for form, data in encodings(password).items()}
    starts = sorted(set(range(0, len(password) - PIECE + 1, STRIDE)) | {len(password) - PIECE})
    for i in starts:
        for form, data in encodings(password[i:i + PIECE]).items():
            out[f"{form} piece {i}"] = data
    return out


class NoPasswordLeftBehind(driver.Window):

    def test_copies_while_typed_and_after_clear(self):
        seed = random.randrange(1 << 30)
        password = make_password(random.Random(seed))
        print(f"\npassword {password!r} (seed {seed})", file=sys.stderr)
        look_for = needles(password)
        session, app = self.session, self.app

        def scan(step: str) -> ScanResult:
            t0 = time.monotonic()
            r = scan_memory(app.pid, look_for)
            pieces = {form: len({h.address for name, hs in r.hits.items()
                                 if name.startswith(f"{form} piece") for h in hs})
                      for form in ("ansi", "utf16")}
            print(f"{step}: {r.count('ansi copy')} ANSI and {r.count('utf16 copy')} UTF-16 "
                  f"copies; {pieces['ansi']} ANSI and {pieces['utf16']} UTF-16 places with "
                  f"a {PIECE}-character piece ({r.bytes_read >> 20} MiB in "
                  f"{r.mappings_read} mappings, {r.mappings_skipped} refused, "
                  f"{time.monotonic() - t0:.1f} s)", file=sys.stderr)
            return r

        before = scan("before typing")
        self.assertEqual(sum(len(h) for h in before.hits.values()), 0,
                         "the password is in memory before it was typed")
        self.assertGreater(before.bytes_read, 1 << 20)

        self.focus(ENTERED)
        # No overlap: any password then types in order (driver.human_typing); one warm-up.
        first = driver.human_typing(password, seed, overlap_at=LENGTH)
        t = first[-1].at_ms
        second = driver.human_typing(password, seed, start_ms=t + 300, overlap_at=LENGTH)[2:]
        self.play(first + [KeyEvent(t + 50, True, "Tab"), KeyEvent(t + 110, False, "Tab")] + second)
        # Equal texts give a verdict; the Tab moved the focus to the second field.
        verdict = session.text(CAPTION, replay.VERDICT_LABEL)
        self.assertIn(verdict, ("OK", "FAILED"), "the two fields do not hold equal texts")
        self.assertEqual(session.focused_id(CAPTION), REENTERED)

        typed = scan("typed in both fields")
        self.assertEqual(typed.count("ansi copy"), 0,
                         [h.mapping for h in typed.hits["ansi copy"]])
        # The two edit controls hold the text as UTF-16; that the scan finds them shows it
        # reads the memory where a copy would be.
        self.assertGreaterEqual(typed.count("utf16 copy"), 2)

        session.click_button(CAPTION, replay.CLEAR_BUTTON[ENTERED])
        session.click_button(CAPTION, replay.CLEAR_BUTTON[REENTERED])
        time.sleep(0.3)
        self.assertEqual(session.texts(CAPTION, [ENTERED, REENTERED]), ["", ""])
        cleared = scan("after both Clear")
        left = {name: [f"0x{h.address:x} in {h.mapping}" for h in hs]
                for name, hs in cleared.hits.items() if hs}
        self.assertEqual(left, {}, "pieces of the password are left after both Clear")
        self.assertEqual(session.close(app), 0)


if __name__ == "__main__":
    sys.exit(driver.suite_main())
