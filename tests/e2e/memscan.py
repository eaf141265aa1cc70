"""Reads a running process's memory from outside (/proc/PID/mem, every readable mapping) and
counts where given byte strings occur: how the end-to-end tests look for copies of a password
left in the program's memory. Needs permission to trace the process (same user, or root).
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import Dict, List

CHUNK = 64 << 20


@dataclass
class Hit:
    address: int
    mapping: str   # the maps line of the mapping that holds it


@dataclass
class ScanResult:
    hits: Dict[str, List[Hit]]
    bytes_read: int
    mappings_read: int
    mappings_skipped: int   # readable by their flags, yet refused by the kernel ([vvar], ...)

    def count(self, name: str) -> int:
        return len(self.hits[name])


def encodings(text: str) -> Dict[str, bytes]:
    """The forms a Windows program keeps text in: ANSI (one byte a character; the tests use
    ASCII only) and UTF-16 little-endian."""
    return {"ansi": text.encode("latin-1"), "utf16": text.encode("utf-16-le")}


def scan(pid: int, needles: Dict[str, bytes]) -> ScanResult:
    """Every occurrence of every needle in the readable memory of process pid. Large mappings
    are read in chunks that overlap by the longest needle, so no hit is lost at a seam."""
    hits: Dict[str, List[Hit]] = {name: [] for name in needles}
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
