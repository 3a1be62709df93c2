"""Fit once, transform later: tarnix_learn.TextColumnEncoder against
scikit-learn's OrdinalEncoder.

The fit table is case 1's DataFrame (bench/data.py); the table scored later
has a quarter of its rows, drawn from the fit table's rows, with 1% of each
text column's cells replaced by labels the fit table does not have. Both
encoders get the same text columns (Python-backed str); unseen labels give
-1. Before anything is timed, both fits must give the same categories and
both transforms the same codes; the runs of the two encoders alternate. Targets: fit >= 1.5x and transform >= 3x
faster than scikit-learn. Information rows: TextColumnEncoder on the whole
frame (numeric columns pass through).

Run alone: .venv/bin/python bench/learn.py [--quick] [--repeats N]
"""

import argparse
import gc
import os
import statistics
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import numpy as np  # noqa: E402
import pandas as pd  # noqa: E402

import data  # noqa: E402
import measure  # noqa: E402

FULL = {"fit_rows": 1_000_000, "score_rows": 250_000, "repeats": 5}
QUICK = {"fit_rows": 20_000, "score_rows": 5_000, "repeats": 2}
UNSEEN_SHARE = 0.01
# Target speed-ups over scikit-learn: (step, at least).
TARGETS = (("fit", 1.5), ("transform", 3.0))
CASE = "learn"


def score_table(fit_table, rows, seed=5):
    """`rows` rows drawn from `fit_table`, with UNSEEN_SHARE of each text
    column's cells set to labels that `fit_table` does not have."""
    rng = np.random.default_rng(seed)
    table = fit_table.iloc[rng.integers(0, len(fit_table), rows)].reset_index(drop=True)
    for name, cardinality, prefix in zip(data.TEXT_COLUMNS, data.TEXT_CARDINALITIES, "abcd"):
        cells = table[name].to_numpy(dtype=object)
        unseen = np.flatnonzero(rng.random(rows) < UNSEEN_SHARE)
        # Fit labels are prefix + 7 digits; these have an "x" in between.
        vocabulary = np.array([f"{prefix}x{i:07d}" for i in range(max(1, cardinality // 100))],
                              dtype=object)
        cells[unseen] = vocabulary[rng.integers(0, len(vocabulary), len(unseen))]
        table[name] = pd.array(cells, dtype=table[name].dtype)
    return table


def _encoders():
    from sklearn.preprocessing import OrdinalEncoder

    from tarnix_learn import TextColumnEncoder

    return {
        "tarnix_learn": lambda: TextColumnEncoder(handle_unknown="use_encoded_value",
                                                  unknown_value=-1),
        "scikit-learn": lambda: OrdinalEncoder(handle_unknown="use_encoded_value",
                                               unknown_value=-1, encoded_missing_value=np.nan),
    }


def _codes(out):
    return out.to_numpy(dtype=np.float64) if isinstance(out, pd.DataFrame) else out


def check(fitted, fit_text, score_text):
    """Both encoders' categories and codes agree; the codes of the scored
    table hold about UNSEEN_SHARE unknowns per text column."""
    ours, theirs = fitted["tarnix_learn"], fitted["scikit-learn"]
    for j, name in enumerate(data.TEXT_COLUMNS):
        sk = theirs.categories_[j]
        sk = sk[~pd.isna(sk)]
        if not np.array_equal(ours.categories_[j], sk):
            raise measure.Mismatch(f"[learn] categories of {name} differ: "
                                   f"{len(ours.categories_[j])} vs scikit-learn's {len(sk)}")
    for what, table in (("fit table", fit_text), ("scored table", score_text)):
        got, want = _codes(ours.transform(table)), _codes(theirs.transform(table))
        measure.check_codes(f"[learn] transform of the {what}", got, want)
    unknown = (got == -1).mean(axis=0)
    if not np.all(np.abs(unknown - UNSEEN_SHARE) < UNSEEN_SHARE / 2):
        raise measure.Mismatch(f"[learn] share of unknown codes per column {unknown}, "
                               f"not about {UNSEEN_SHARE}")


def timed_alternating(fns, repeats, label, progress):
    """Like measure.timed, for several functions whose runs alternate, so
    that a change of the machine's load hits each of them alike. Returns the
    wall times (s) per key of `fns`."""
    times = {name: [] for name in fns}
    for run in range(1, repeats + 1):
        for name, fn in fns.items():
            gc.collect()
            start = time.perf_counter()
            result = fn()
            times[name].append(time.perf_counter() - start)
            del result
        medians = ", ".join(f"{name} {measure.format_seconds(statistics.median(t))}"
                            for name, t in times.items())
        progress.update(f"{label}: {run}/{repeats} runs, medians so far: {medians}", run == repeats)
    return times


def _record(results, step, peer, table, times, note=""):
    rows, width = table.shape
    results.append({"case": CASE, "step": step, "peer": peer, "rows": rows,
                    "cells": rows * width, "times": times, "median": statistics.median(times),
                    "note": note})


def run(quick, repeats=None, progress=None, max_rows=None):
    """Times fit and transform of both encoders; returns the result rows
    (dicts with case, step, peer, rows, cells, times, median, note).
    `max_rows` caps the row count of both tables."""
    sizes = dict(QUICK if quick else FULL)
    if max_rows:
        sizes["fit_rows"] = min(sizes["fit_rows"], max_rows)
        sizes["score_rows"] = min(sizes["score_rows"], max_rows)
    repeats = repeats or sizes["repeats"]
    progress = progress or measure.Progress()
    progress.say(f"[learn] making case 1's DataFrame of {sizes['fit_rows']:,} rows and a "
                 f"scored table of {sizes['score_rows']:,} rows")
    fit_table = data.frame(sizes["fit_rows"])
    scored = score_table(fit_table, sizes["score_rows"])
    text = list(data.TEXT_COLUMNS)
    fit_text, score_text = fit_table[text], scored[text]
    encoders = _encoders()
    progress.say("[learn] checking that both encoders agree")
    fitted = {peer: make().fit(fit_text) for peer, make in encoders.items()}
    check(fitted, fit_text, score_text)
    results = []
    steps = {
        "fit": (fit_text, {peer: (lambda make=make: make().fit(fit_text))
                           for peer, make in encoders.items()}),
        "transform": (score_text, {peer: (lambda encoder=encoder: encoder.transform(score_text))
                                   for peer, encoder in fitted.items()}),
    }
    for step, (table, fns) in steps.items():
        times = timed_alternating(fns, repeats, f"[learn] {step}, {len(table):,} x {len(text)}",
                                  progress)
        for peer in encoders:
            _record(results, step, peer, table, times[peer])
        gc.collect()
    # Information: the whole frame, numeric columns passed through.
    make = encoders["tarnix_learn"]
    whole = make().fit(fit_table)
    for step, table, fn in (("fit", fit_table, lambda: make().fit(fit_table)),
                            ("transform", scored, lambda: whole.transform(scored))):
        times = measure.timed(fn, repeats, f"[learn] {step} tarnix_learn, whole frame "
                              f"{len(table):,} x {table.shape[1]}", progress)
        _record(results, step, "tarnix_learn, whole frame", table, times,
                note="information: all 8 columns, numeric ones passed through")
    return results


def speedups(results):
    """(step, scikit-learn's median / tarnix_learn's, target, met) per target."""
    median = {(r["step"], r["peer"]): r["median"] for r in results}
    out = []
    for step, target in TARGETS:
        ratio = median[(step, "scikit-learn")] / median[(step, "tarnix_learn")]
        out.append((step, ratio, target, ratio >= target))
    return out


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="small tables, 2 runs each")
    parser.add_argument("--repeats", type=int, help="runs per timing (default 5, quick 2)")
    args = parser.parse_args(argv)
    results = run(args.quick, args.repeats)
    print()
    print("| step | peer | rows | median |")
    print("|---|---|---|---|")
    for r in results:
        print(f"| {r['step']} | {r['peer']} | {r['rows']:,} | {measure.format_seconds(r['median'])} |")
    print()
    for step, ratio, target, met in speedups(results):
        print(f"{step}: scikit-learn / tarnix_learn = {ratio:.2f}x (target >= {target}x): "
              f"{'yes' if met else 'NO'}")


if __name__ == "__main__":
    main()
