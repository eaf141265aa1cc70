"""Draws the false-reject and false-accept rates of the verdict against the threshold, from the
curve that typist_verdicts --curve writes, with the default threshold 50.00 marked.

    python3 bench/plot_verdicts.py CURVE.csv OUT.png
"""

from __future__ import annotations

import csv
import sys
from pathlib import Path

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

DEFAULT_THRESHOLD = 50.0


def read_curve(path: Path) -> tuple[list[float], list[float], list[float]]:
    thresholds, frr, far = [], [], []
    with path.open(newline="") as f:
        for row in csv.DictReader(f):
            thresholds.append(float(row["threshold"]))
            frr.append(float(row["frr"]))
            far.append(float(row["far"]))
    if len(thresholds) < 2:
        raise ValueError(f"{path}: no curve")
    return thresholds, frr, far


def plot(curve: Path, out: Path) -> None:
    t, frr, far = read_curve(curve)
    at = min(range(len(t)), key=lambda i: abs(t[i] - DEFAULT_THRESHOLD))
    eer = min(range(len(t)), key=lambda i: abs(frr[i] - far[i]))
    fig, ax = plt.subplots(figsize=(7.5, 4.2), dpi=100)
    ax.plot(t, frr, color="tab:red", label="false rejects: the same person gets \"FAILED\"")
    ax.plot(t, far, color="tab:blue", label="false accepts: another person gets \"OK\"")
    ax.axvline(DEFAULT_THRESHOLD, color="0.4", linestyle="--", linewidth=1)
    ax.annotate(f"50.00 (default)\nFRR {frr[at]:.1f} %, FAR {far[at]:.1f} %",
                (DEFAULT_THRESHOLD, 62), xytext=(6, 0), textcoords="offset points",
                fontsize=8, color="0.25")
    ax.plot([t[eer]], [(frr[eer] + far[eer]) / 2], "o", color="black", markersize=4)
    ax.annotate(f"equal error {(frr[eer] + far[eer]) / 2:.1f} % at {t[eer]:.2f}",
                (t[eer], (frr[eer] + far[eer]) / 2), xytext=(8, -14), textcoords="offset points",
                fontsize=8)
    ax.set_xlim(0, 100)
    ax.set_ylim(0, 100)
    ax.set_xlabel("threshold (slider)")
    ax.set_ylabel("% of pairs")
    ax.set_title("Verdict on 56 real typists (2,800 genuine, 157,080 impostor pairs)", fontsize=10)
    ax.grid(True, color="0.9")
    ax.legend(loc="center left", fontsize=8, frameon=False)
    fig.tight_layout()
    out.parent.mkdir(parents=True, exist_ok=True)
    # No software or date stamp, so the same figures give the same file.
    fig.savefig(out, metadata={"Software": None})
    plt.close(fig)


def main(argv: list[str]) -> int:
    if len(argv) != 3:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    plot(Path(argv[1]), Path(argv[2]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
