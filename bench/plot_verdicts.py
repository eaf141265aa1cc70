"""Draws the false-reject and false-accept rates of the verdict against the threshold for every
data set in the curve that typist_verdicts --curve writes, in one picture, with the default
threshold 50.00 marked and each set's equal-error point.

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
LABEL_BOX = {"boxstyle": "square,pad=0.2", "fc": "white", "ec": "none", "alpha": 0.85}
# Each set typist_verdicts writes, in the legend's order: its line style and its name there.
STYLES = {"keyboard": ("-", "physical keyboard"), "touch": ("--", "touch screen")}


def read_curves(path: Path) -> dict[str, tuple[list[float], list[float], list[float]]]:
    """set -> (thresholds, FRR, FAR), in the file's order of sets."""
    curves: dict[str, tuple[list[float], list[float], list[float]]] = {}
    with path.open(newline="") as f:
        for row in csv.DictReader(f):
            t, frr, far = curves.setdefault(row["set"], ([], [], []))
            t.append(float(row["threshold"]))
            frr.append(float(row["frr"]))
            far.append(float(row["far"]))
    if not curves or any(len(c[0]) < 2 for c in curves.values()):
        raise ValueError(f"{path}: no curve")
    return curves


def plot(curve: Path, out: Path) -> None:
    curves = read_curves(curve)
    fig, ax = plt.subplots(figsize=(7.5, 4.6), dpi=100)
    ax.axvline(DEFAULT_THRESHOLD, color="0.4", linestyle=":", linewidth=1)
    at_default = []
    for name, (style, label) in STYLES.items():
        t, frr, far = curves[name]
        ax.plot(t, frr, style, color="tab:red", label=f"{label}: the same person gets \"FAILED\"")
        ax.plot(t, far, style, color="tab:blue", label=f"{label}: another person gets \"OK\"")
        at = min(range(len(t)), key=lambda i: abs(t[i] - DEFAULT_THRESHOLD))
        at_default.append(f"{label}: FRR {frr[at]:.1f} %, FAR {far[at]:.1f} %")
        eer = min(range(len(t)), key=lambda i: abs(frr[i] - far[i]))
        rate = (frr[eer] + far[eer]) / 2
        ax.plot([t[eer]], [rate], "o", color="black", markersize=4)
        ax.annotate(f"{label}: equal error\n{rate:.1f} % at {t[eer]:.2f}", (t[eer], rate),
                    xytext=(8, 4), textcoords="offset points", fontsize=8, bbox=LABEL_BOX)
    ax.annotate("50.00 (default)\n" + "\n".join(at_default), (DEFAULT_THRESHOLD, 97),
                xytext=(6, 0), textcoords="offset points", fontsize=8, color="0.25", va="top",
                bbox=LABEL_BOX)
    ax.set_xlim(0, 100)
    ax.set_ylim(0, 100)
    ax.set_xlabel("threshold (slider)")
    ax.set_ylabel("% of pairs")
    ax.set_title("Verdict on real typists of one password: one typing against one", fontsize=10)
    ax.grid(True, color="0.9")
    ax.legend(loc="lower left", fontsize=7, frameon=False)
    fig.tight_layout()
    out.parent.mkdir(parents=True, exist_ok=True)
    # No software or date stamp, so the same figures give the same file.
    fig.savefig(out, metadata={"Software": None})
    plt.close(fig)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__.strip().splitlines()[-1])
    plot(Path(sys.argv[1]), Path(sys.argv[2]))
