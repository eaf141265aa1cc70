"""Hardening check of a packaged Typrova.exe: reads its PE headers with pefile (Debian's
python3-pefile) and fails unless the loader's protections are on and the file is what the
release says it is.

Exits 0 when every check passes, 1 otherwise (each failure is printed), 2 on bad arguments.
"""

import argparse
import sys

import pefile

MACHINES = {"x86_64": "IMAGE_FILE_MACHINE_AMD64", "i686": "IMAGE_FILE_MACHINE_I386"}
# DYNAMIC_BASE: the loader may place the image at a random address (ASLR). NX_COMPAT: data
# pages are not executable (DEP). HIGH_ENTROPY_VA: 64-bit ASLR uses the whole address space.
REQUIRED = {"x86_64": ("DYNAMIC_BASE", "NX_COMPAT", "HIGH_ENTROPY_VA"),
            "i686": ("DYNAMIC_BASE", "NX_COMPAT")}
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
    strings = {key.decode("ascii", "replace"): value.decode("utf-8", "replace")
               for info in getattr(pe, "FileInfo", []) for entry in info
               for table in getattr(entry, "StringTable", [])
               for key, value in table.entries.items()}
    return fixed, strings


def check(path: str, arch: str, version: str, timestamp: int) -> list[str]:
    """Every failed check, as a sentence; empty when the file passes."""
    pe = pefile.PE(path)
    header, optional = pe.FILE_HEADER, pe.OPTIONAL_HEADER
    fixed, strings = version_block(pe)
    words = ", ".join(version.split("."))
    # what, found, expected
    fields = [("machine", pefile.MACHINE_TYPE.get(header.Machine), MACHINES[arch]),
              ("subsystem", pefile.SUBSYSTEM_TYPE.get(optional.Subsystem),
               "IMAGE_SUBSYSTEM_WINDOWS_GUI"),
              ("version block's file version", fixed, version),
              ("version block's FileVersion", strings.get("FileVersion"), words),
              ("version block's ProductVersion", strings.get("ProductVersion"), words),
              ("time stamp", header.TimeDateStamp, timestamp)]
    failures = [f"{what} {found!r}, expected {expected!r}"
                for what, found, expected in fields if found != expected]

    missing = [flag for flag in REQUIRED[arch]
               if not getattr(optional, "IMAGE_DLLCHARACTERISTICS_" + flag)]
    if missing:
        failures.append(f"DllCharacteristics 0x{optional.DllCharacteristics:04x} lacks "
                        f"{', '.join(missing)}")
    # ASLR needs the relocations: an image marked DYNAMIC_BASE without them cannot be moved.
    if not pe.has_relocs():
        failures.append("no base relocations: the image cannot be placed at a random address")
    for s in pe.sections:
        if s.IMAGE_SCN_MEM_WRITE and s.IMAGE_SCN_MEM_EXECUTE:
            name = s.Name.rstrip(b"\0").decode("ascii", "replace")
            failures.append(f"section {name} is both writable and executable")

    imported = [entry.dll.decode("ascii", "replace")
                for directory in ("DIRECTORY_ENTRY_IMPORT", "DIRECTORY_ENTRY_DELAY_IMPORT")
                for entry in getattr(pe, directory, [])]
    foreign = sorted(d for d in imported if d.lower() not in WINDOWS_DLLS)
    if foreign:
        failures.append(f"imports DLLs that are not Windows' own: {', '.join(foreign)}")

    print(f"{path}: {arch}, DllCharacteristics 0x{optional.DllCharacteristics:04x}, subsystem "
          f"{optional.Subsystem}, version {fixed}, time stamp {header.TimeDateStamp}, "
          f"imports {', '.join(sorted(imported))}")
    return failures


def main() -> int:
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--arch", choices=sorted(MACHINES), required=True)
    p.add_argument("--version", required=True, help="expected version, a.b.c.d")
    p.add_argument("--timestamp", type=int, required=True, help="expected PE time stamp")
    p.add_argument("exe")
    args = p.parse_args()
    try:
        failures = check(args.exe, args.arch, args.version, args.timestamp)
    except (OSError, pefile.PEFormatError) as e:
        failures = [f"cannot read it as a PE file: {e}"]
    for f in failures:
        print(f"FAILED: {args.exe}: {f}", file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
