"""Hardening check of a packaged Typrova.exe: reads its PE headers with pefile (Debian's
python3-pefile) and fails unless the loader's protections are on and the file is what the
release says it is.

    /usr/bin/python3 scripts/check_pe.py --arch x86_64|i686 --version 1.0.0.1 \\
        --timestamp SECONDS Typrova.exe

Exits 0 when every check passes, 1 otherwise (each failure is printed), 2 on bad arguments.
"""

from __future__ import annotations

import argparse
import sys

import pefile

MACHINES = {"x86_64": 0x8664, "i686": 0x14C}
DYNAMIC_BASE = 0x0040       # the loader may place the image at a random address (ASLR)
NX_COMPAT = 0x0100          # data pages are not executable (DEP)
HIGH_ENTROPY_VA = 0x0020    # 64-bit ASLR uses the whole address space
REQUIRED = {"x86_64": DYNAMIC_BASE | NX_COMPAT | HIGH_ENTROPY_VA,
            "i686": DYNAMIC_BASE | NX_COMPAT}
FLAG_NAMES = {DYNAMIC_BASE: "DYNAMIC_BASE", NX_COMPAT: "NX_COMPAT",
              HIGH_ENTROPY_VA: "HIGH_ENTROPY_VA"}
SCN_EXECUTE = 0x20000000
SCN_WRITE = 0x80000000
SUBSYSTEM_WINDOWS_GUI = 2
# DLLs that are part of Windows itself. Anything else (a mingw-w64 runtime DLL such as
# libstdc++-6.dll or libwinpthread-1.dll) would be missing on a user's machine.
WINDOWS_DLLS = {
    "advapi32.dll", "comctl32.dll", "comdlg32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll",
    "ole32.dll", "oleaut32.dll", "shell32.dll", "shlwapi.dll", "user32.dll", "uxtheme.dll",
    "version.dll",
}


def version_block(pe: pefile.PE) -> tuple[str | None, dict[str, str]]:
    """The fixed file version as "a.b.c.d" and the version block's strings."""
    fixed = None
    if getattr(pe, "VS_FIXEDFILEINFO", None):
        f = pe.VS_FIXEDFILEINFO[0]
        fixed = (f"{f.FileVersionMS >> 16}.{f.FileVersionMS & 0xFFFF}."
                 f"{f.FileVersionLS >> 16}.{f.FileVersionLS & 0xFFFF}")
    strings: dict[str, str] = {}
    for info in getattr(pe, "FileInfo", []):
        for entry in info:
            for table in getattr(entry, "StringTable", []):
                for key, value in table.entries.items():
                    strings[key.decode("ascii", "replace")] = value.decode("utf-8", "replace")
    return fixed, strings


def check(path: str, arch: str, version: str, timestamp: int) -> list[str]:
    """Every failed check, as a sentence; empty when the file passes."""
    pe = pefile.PE(path)
    failures = []
    if pe.FILE_HEADER.Machine != MACHINES[arch]:
        failures.append(f"machine 0x{pe.FILE_HEADER.Machine:x}, expected {arch}")

    flags = pe.OPTIONAL_HEADER.DllCharacteristics
    missing = [name for bit, name in FLAG_NAMES.items() if REQUIRED[arch] & bit and not flags & bit]
    if missing:
        failures.append(f"DllCharacteristics 0x{flags:04x} lacks {', '.join(missing)}")
    # ASLR needs the relocations: an image marked DYNAMIC_BASE without them cannot be moved.
    relocs = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]]
    if relocs.Size == 0:
        failures.append("no base relocations: the image cannot be placed at a random address")

    for s in pe.sections:
        if s.Characteristics & SCN_WRITE and s.Characteristics & SCN_EXECUTE:
            name = s.Name.rstrip(b"\0").decode("ascii", "replace")
            failures.append(f"section {name} is both writable and executable")

    if pe.OPTIONAL_HEADER.Subsystem != SUBSYSTEM_WINDOWS_GUI:
        failures.append(f"subsystem {pe.OPTIONAL_HEADER.Subsystem}, expected Windows GUI (2)")

    imported = [e.dll.decode("ascii", "replace") for e in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])]
    imported += [e.dll.decode("ascii", "replace")
                 for e in getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])]
    foreign = sorted(d for d in imported if d.lower() not in WINDOWS_DLLS)
    if foreign:
        failures.append(f"imports DLLs that are not Windows' own: {', '.join(foreign)}")

    fixed, strings = version_block(pe)
    words = ", ".join(version.split("."))
    if fixed != version:
        failures.append(f"version block's file version {fixed}, expected {version}")
    for key in ("FileVersion", "ProductVersion"):
        if strings.get(key) != words:
            failures.append(f"version block's {key} {strings.get(key)!r}, expected {words!r}")

    if pe.FILE_HEADER.TimeDateStamp != timestamp:
        failures.append(f"time stamp {pe.FILE_HEADER.TimeDateStamp}, expected {timestamp}")

    print(f"{path}: {arch}, DllCharacteristics 0x{flags:04x}, subsystem "
          f"{pe.OPTIONAL_HEADER.Subsystem}, version {fixed}, time stamp "
          f"{pe.FILE_HEADER.TimeDateStamp}, imports {', '.join(sorted(imported))}")
    return failures


def main() -> int:
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--arch", choices=sorted(MACHINES), required=True)
    p.add_argument("--version", required=True, help="expected version, a.b.c.d")
    p.add_argument("--timestamp", type=int, required=True, help="expected PE time stamp")
    p.add_argument("exe")
    args = p.parse_args()
    if len(args.version.split(".")) != 4 or not all(v.isdigit() for v in args.version.split(".")):
        p.error("--version must be four numbers, a.b.c.d")
    try:
        failures = check(args.exe, args.arch, args.version, args.timestamp)
    except (OSError, pefile.PEFormatError) as e:
        failures = [f"cannot read it as a PE file: {e}"]
    for f in failures:
        print(f"FAILED: {args.exe}: {f}", file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
