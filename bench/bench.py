"""Runs every Typrova benchmark in one Wine session and prints its tables (also written to
build/bench/results.md): timing accuracy against three references on a synthetic and a real
typing schedule, cost per key, start-up time, executable size, and the verdict's error rates
on real typists, touch screen and physical keyboard (with their plot in docs/).
bench/run.sh installs, builds and then calls this. Exits 1, naming the steps, when a step could
not measure (a missed goal is a figure, not a failed step). Options: bench/bench.py --help.
"""

from __future__ import annotations

import argparse
import datetime
import importlib.util
import math
import os
import platform
import re
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path
from typing import Iterable, Sequence

sys.path.insert(0, str(Path(__file__).resolve().parent))
import accuracy  # noqa: E402
import harness  # noqa: E402  (accuracy puts tests/e2e on the path)
import replay  # noqa: E402

REPO = accuracy.REPO
BUILD = accuracy.BUILD
WIN_BENCH = BUILD / "win64" / "bench"
RESULTS = BUILD / "bench" / "results.md"


def windows_path(path: Path) -> str:
    return "Z:" + str(path).replace("/", "\\")


def ms(v: float) -> str:
    return "n/a" if math.isnan(v) else f"{v:.2f}"


def summary(s: dict[str, float]) -> str:
    """A distribution's median / p95 / p99 / max."""
    return " / ".join(ms(s[k]) for k in ("median", "p95", "p99", "max")) + " ms"


def markdown(head: Sequence[str], rows: Iterable[Sequence[str]]) -> str:
    """A markdown table; a "|" in a cell becomes "/"."""
    return "\n".join("| " + " | ".join(c.replace("|", "/") for c in row) + " |"
                     for row in [head, ["---"] * len(head), *rows])


class Table(list):
    """The rows of the cost, start-up and size table."""

    def add(self, measure: str, value: str, goal: str = "", ok: bool = False) -> None:
        self.append((measure, value, goal, ("met" if ok else "NOT met") if goal else ""))


def conditions(session_env: dict[str, str]) -> str:
    def output(*argv: str) -> str:
        return subprocess.run(argv, capture_output=True, text=True, stdin=subprocess.DEVNULL,
                              env=session_env).stdout.strip()
    wine = output(session_env["WINE"], "--version")
    xvfb, chromium = (output("dpkg-query", "-W", "-f=${Version}", p) for p in ("xvfb", "chromium"))
    cpu = next((line.split(":", 1)[1].strip() for line in
                Path("/proc/cpuinfo").read_text().splitlines() if line.startswith("model name")),
               platform.processor())
    load = " ".join(Path("/proc/loadavg").read_text().split()[:3])
    return (f"Conditions: {wine}; Xvfb {xvfb} 1280x1024x24 (display {session_env['DISPLAY']}, "
            f"no window manager); Chromium {chromium}; {os.cpu_count()} cores ({cpu}); "
            f"Linux {platform.release()}; load average at start {load}")


# --- 1. accuracy --------------------------------------------------------------------------------

KINDS = (("holds (Pressed)", "pressed"), ("pauses (Interval)", "interval"))


def accuracy_table(session: harness.Session, args: argparse.Namespace) -> tuple[str, list[str]]:
    """Both schedules into every target; a markdown table with the schedules side by side,
    and the faults seen."""
    real, skipped = accuracy.real_schedule(args.data, args.real_passwords)
    groups = {"synthetic": accuracy.make_schedule(args.passwords), "real typing": real}
    results, lateness = accuracy.run_all(session, groups, args.baseline_app)
    names = list(groups)
    head = ["Measure"] + [f"{g} ({len(groups[g])} passwords, "
                          f"{accuracy.keystroke_count(groups[g])} keystrokes)" for g in names]
    rows: list[list[str]] = []
    p99: dict[tuple[str, str, str], float] = {}
    for target, per_schedule in results.items():
        for kind, attr in KINDS:
            stats = {g: harness.distribution(getattr(per_schedule[g], attr)) for g in names}
            p99.update({(target, kind, g): s["p99"] for g, s in stats.items()})
            rows.append([f"{target}: error of {kind}, median / p95 / p99 / max"] +
                        [f"{summary(s)} (n={int(s['n'])})" for s in stats.values()])
        counts = [len(per_schedule[g].faults) for g in names]
        if any(counts):
            rows.append([f"{target}: faults (see below)"] + [str(c) for c in counts])
    notes = [f"{target}, {g}: {f}" for target, per_schedule in results.items()
             for g in names for f in per_schedule[g].faults]
    for target in (t for t in results if t.startswith("Typrova")):
        for reference, goal in (("Chromium page", " (goal <= 1.0)"), ("Win32 window", "")):
            for kind, _ in KINDS:
                rows.append([f"p99 ratio {target} / {reference}, {kind}{goal}"] +
                            [ms(p99[(target, kind, g)] / p99[(reference, kind, g)])
                             for g in names])
    refiled = [accuracy.count_refiled(groups[g]) for g in names]
    rows.append(["Shown values that differ from the plain hold of key k / pause before key k "
                 "(the filing rule refiles positions)"] +
                [f"{n} of {shown} ({100 * n / shown:.0f} %)" for shown, n in refiled])
    late = harness.distribution(lateness)
    rows.append([f"Injector lateness (sent - scheduled) over the program's run, "
                 f"{int(late['n'])} events: median / p95 / p99 / max", summary(late), ""])
    return markdown(head, rows) + "\n\nReal typing, not played: " + (", ".join(
        f"{n} {why}" for why, n in sorted(skipped.items())) or "nothing"), notes


# --- verdict on real typists ---------------------------------------------------------------------

VERDICT_TOOL = BUILD / "native" / "bench" / "typist_verdicts"
VERDICT_PLOT = REPO / "docs" / "verdict-rates.png"


def verdict_section(data: Path) -> str:
    """The verdict's error rates on the touch-screen and the physical-keyboard typists, as
    typist_verdicts prints them, and their plot."""
    curve = BUILD / "bench" / "verdict-curve.csv"
    curve.parent.mkdir(parents=True, exist_ok=True)
    started = time.monotonic()
    r = subprocess.run([str(VERDICT_TOOL), "--data", str(data), "--curve", str(curve)],
                       capture_output=True, text=True, stdin=subprocess.DEVNULL, timeout=600)
    if r.returncode != 0:
        raise harness.HarnessError(f"typist_verdicts failed ({r.returncode}): "
                                   f"{r.stderr.strip()}")
    seconds = time.monotonic() - started
    # Debian's matplotlib belongs to the system's Python, which may not be the one running this.
    python = (sys.executable if importlib.util.find_spec("matplotlib") is not None
              else "/usr/bin/python3")
    subprocess.run([python, str(REPO / "bench" / "plot_verdicts.py"), str(curve),
                    str(VERDICT_PLOT)], check=True, timeout=120)
    return (f"`{VERDICT_TOOL.relative_to(REPO)} --data {data}` ({seconds:.1f} s); plot "
            f"{VERDICT_PLOT.relative_to(REPO)}\n\n```\n{r.stdout.strip()}\n```")


# --- 2. cost per key -----------------------------------------------------------------------------

# A request line of a +server log (thread, and the marker's sign where it is one) and its marks.
REQUEST = re.compile(r'^([0-9a-f]{4}): \w+\( (?:name=L"key_cost:release([+-])" \))?', re.M)


def count_release_requests(log: str) -> list[int]:
    """Wine server requests of the marked thread between each pair of release markers."""
    counts, thread, n = [], None, 0
    for m in REQUEST.finditer(log):
        if m.group(2) == "+":
            thread, n = m.group(1), 0
        elif m.group(2) == "-" and thread:
            counts.append(n)
            thread = None
        elif m.group(1) == thread:
            n += 1
    return counts


def server_requests(session: harness.Session, *variant: str) -> list[int]:
    """Runs key_cost --trace on a Wine server started with +server tracing, then gives the
    session back its own quiet server and desktop."""
    env = dict(session.env)

    def server(*args: str) -> None:
        subprocess.run([env["WINESERVER"], *args], env=env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)

    server("-k")
    server("-w")
    traced = dict(env, WINEDEBUG="+server")
    with tempfile.TemporaryFile() as log:
        subprocess.run([env["WINE"], str(WIN_BENCH / "key_cost.exe"), "--trace", "20", *variant],
                       env=traced, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=log, timeout=300)
        server("-k")
        server("-w")
        log.seek(0)
        counts = count_release_requests(log.read().decode(errors="replace"))
    server("-p")
    subprocess.run([env["WINE"], "reg", "query", r"HKCU\Software\Wine\X11 Driver"], env=env,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=120)
    return counts


def key_cost_rows(table: Table, session: harness.Session) -> None:
    r = session.wine(WIN_BENCH / "key_cost.exe", "10000", timeout=900)
    if r.returncode != 0:
        raise harness.HarnessError(f"key_cost failed ({r.returncode}): {r.stderr.strip()[:200]}")
    # key_cost's lines: a measure's name, then its samples.
    stats = {name: harness.distribution(map(float, samples))
             for name, *samples in map(str.split, r.stdout.splitlines())}

    def mp(name: str, digits: int = 1) -> str:
        return f"{stats[name]['median']:.{digits}f} / {stats[name]['p99']:.{digits}f}"

    def pair(name: str) -> str:
        return f"{mp(name)} us; with SetWindowSubclass {mp(name + '_setwindowsubclass')} us"

    n = int(stats["keyup_route"]["n"])
    table.add("Key (press / release) from arrival in the field's procedure to the counter "
              f"reading, n={n} each: median / p99",
              f"press {pair('press_arrival_to_counter')}; release "
              f"{pair('release_arrival_to_counter')}")
    table.add("... of which the edit control's own processing: median / p99",
              f"press {pair('press_edit_own_processing')}; release "
              f"{pair('release_edit_own_processing')}")
    end = stats["release_edit_end_to_counter"]
    table.add("From the end of the edit control's processing to the counter reading, release "
              "(press): median / p99",
              f"{pair('release_edit_end_to_counter')} ({mp('press_edit_end_to_counter')} us)",
              "median < 5 us, p99 < 20 us", end["median"] < 5.0 and end["p99"] < 20.0)
    table.add("Key-release route, arrival to return (stamp, store, labels kept, evaluate): "
              "median / p99", pair("keyup_route"), "p99 < 100 us",
              stats["keyup_route"]["p99"] < 100.0)
    table.add("Painting a release leaves for when the queue is empty (the dialog's WM_PAINT): "
              "median / p99", pair("paint_left_for_later"))
    counts = server_requests(session)
    before = server_requests(session, "old")
    if not counts or not before:
        raise harness.HarnessError("no release markers in the +server log of key_cost --trace")
    table.add(f"Wine server requests per key release (WINEDEBUG=+server, {len(counts)} "
              "releases): mean / max",
              f"{statistics.mean(counts):.1f} / {max(counts)}; with SetWindowSubclass "
              f"{statistics.mean(before):.1f} / {max(before)}", "<= 5", max(counts) <= 5)
    table.add("... timing core (stamp + recordRelease + evaluate): median / p99",
              f"{mp('core_stamp_record_evaluate', 2)} us")
    parts = [("field length, bounded read", "field_length_bounded_read"),
             ("GetWindowTextLengthA", "field_length_GetWindowTextLengthA"),
             ("full text copy", "field_text_full_copy"), ("TBM_GETPOS", "slider_TBM_GETPOS"),
             ("29 x formatNumber", "core_format_29_numbers"),
             ("one label written and drawn at once", "label_settext_drawn")]
    table.add("... calls of the route alone, medians: " + " / ".join(p for p, _ in parts),
              " / ".join(f"{stats[k]['median']:.1f}" for _, k in parts) + " us")


# --- 3. start-up ---------------------------------------------------------------------------------

def startup_rows(table: Table, session: harness.Session, runs: int = 10) -> None:
    ready = f"{replay.THRESHOLD_LABEL}=50.00|{replay.VERDICT_LABEL}=Enter text"
    targets = [f"{windows_path(accuracy.TYPROVA)}|Typrova|{ready}",
               f"{windows_path(WIN_BENCH / 'minimal_dialog.exe')}|Minimal dialog|1066="]
    r = session.wine(WIN_BENCH / "startup_probe.exe", str(runs), *targets, timeout=600)
    times = {int(p[1]): [float(v) for v in p[2:]] for p in map(str.split, r.stdout.splitlines())
             if len(p) > 2 and p[0] == "startup"}
    if r.returncode != 0 or len(times) != 2:
        raise harness.HarnessError(f"startup_probe failed ({r.returncode}): "
                                   f"{r.stderr.strip()[:200]}")
    med = [statistics.median(times[i]) for i in (0, 1)]
    ratio = med[0] / med[1]
    table.add(f"Start-up to opening state, median of {runs} (Typrova / minimal dialog)",
              f"{med[0]:.1f} / {med[1]:.1f} ms; ratio {ratio:.2f}", "<= 1.5 x minimal dialog",
              ratio <= 1.5)


# --- 4. size -------------------------------------------------------------------------------------

def size_rows(table: Table) -> None:
    out_dir = BUILD / "bench" / "stripped"
    out_dir.mkdir(parents=True, exist_ok=True)
    for label, exe, prefix in (("Typrova.exe x86_64", accuracy.TYPROVA, "x86_64"),
                               ("Typrova.exe i686", BUILD / "win32/app/Typrova.exe", "i686"),
                               ("minimal_dialog.exe x86_64", WIN_BENCH / "minimal_dialog.exe",
                                "x86_64")):
        if not exe.is_file():
            raise FileNotFoundError(f"{exe} is not built")
        copy = out_dir / f"{prefix}-{exe.name}"
        subprocess.run([f"{prefix}-w64-mingw32-strip", "-o", str(copy), str(exe)], check=True)
        size = copy.stat().st_size
        dump = subprocess.run([f"{prefix}-w64-mingw32-objdump", "-p", str(copy)],
                              capture_output=True, text=True, check=True).stdout
        dlls = re.findall(r"DLL Name:\s*(\S+)", dump)
        table.add(f"Size stripped, {label}; imports",
                  f"{size / 1024:.1f} KB ({size} bytes); {', '.join(dlls)}",
                  "<= 128 KB" if label.startswith("Typrova") else "", size <= 128 * 1024)


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--passwords", type=int, default=20, help="synthetic 15-key passwords")
    ap.add_argument("--real-passwords", type=int, default=20,
                    help="passwords cut from the real keyboard typing (0: all of them)")
    ap.add_argument("--data", type=Path, default=accuracy.DEFAULT_DATA,
                    help="folder of the real typing data sets")
    ap.add_argument("--baseline-app", type=Path, default=None,
                    help="another Typrova.exe (e.g. built from an older commit) to play the "
                         "schedules into as well, for before/after figures from one run")
    args = ap.parse_args()
    if args.baseline_app is not None and not args.baseline_app.is_file():
        ap.error(f"--baseline-app {args.baseline_app}: no such file")

    table = Table()
    sections: dict[str, str] = {}  # "accuracy", "verdict" -> its markdown
    notes: list[str] = []
    failed: list[str] = []

    def run_step(name: str, step) -> None:
        """Runs one step; a step that cannot measure is named in a row and in `failed`."""
        print(f"running: {name}", file=sys.stderr, flush=True)
        started = time.monotonic()
        try:
            step()
        except (harness.HarnessError, subprocess.SubprocessError, OSError, KeyError,
                ValueError) as e:
            failed.append(name)
            table.add(name, f"bench failed: {e}", "runs", False)
            print(f"FAILED: {name}: {e}", file=sys.stderr, flush=True)
        print(f"done: {name} in {time.monotonic() - started:.0f} s", file=sys.stderr, flush=True)

    def run_accuracy() -> None:
        sections["accuracy"], found = accuracy_table(session, args)
        notes.extend(found)
        if found:
            raise harness.HarnessError(f"{len(found)} faults (listed below the tables)")

    run_step("verdict on real typists", lambda: sections.update(verdict=verdict_section(args.data)))
    header = [f"Date: {datetime.datetime.now().astimezone().isoformat(timespec='seconds')}"]
    prefix = os.environ.get("TYPROVA_WINEPREFIX", str(BUILD / "wineprefix-bench"))
    session = harness.Session(BUILD / "native/tests/e2e/injector",
                              BUILD / "win64/tests/e2e/winprobe.exe", prefix=prefix)
    try:
        run_step("Wine session", session.start)
        if "Wine session" not in failed:
            header.append(conditions(session.env))
            print("\n".join(header), flush=True)
            run_step("accuracy", run_accuracy)
            run_step("cost per key", lambda: key_cost_rows(table, session))
            run_step("start-up", lambda: startup_rows(table, session))
    finally:
        session.stop()
    run_step("size", lambda: size_rows(table))

    body = [("Timing accuracy (every target's session at the end-to-end tests' priority)",
             sections.get("accuracy")),
            ("Cost, start-up, size", markdown(("Measure", "Value", "Goal", "Status"), table)),
            ("Verdict on real typists", sections.get("verdict")),
            ("Faults", "\n".join(f"- {n}" for n in notes))]
    text = "\n".join(["# Typrova benchmark", ""] + [h + "  " for h in header])
    text += "".join(f"\n\n## {title}\n\n{md}" for title, md in body if md) + "\n"
    RESULTS.parent.mkdir(parents=True, exist_ok=True)
    RESULTS.write_text(text)
    print(text)
    print(f"(written to {RESULTS})")
    if failed:
        print(f"bench failed in: {', '.join(failed)}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
