"""Fit once, transform later: tarnix_learn.TextColumnEncoder against
scikit-learn's OrdinalEncoder, and on Dask against dask-ml.

The fit table is case 1's DataFrame (bench/data.py); the table scored later
has a quarter of its rows, drawn from the fit table's rows, with 1% of each
text column's cells replaced by labels the fit table does not have. Both
encoders get the same text columns (Python-backed str); unseen labels give
-1. Before anything is timed, both fits must give the same categories and
both transforms the same codes; the runs of the two encoders alternate.

Steps and targets (scikit-learn's median / tarnix_learn's):
- fit >= 1.5x, transform >= 3x, default parameters;
- "every option": given categories (each column's labels, last first),
  min_frequency=2, max_categories=500, dtype=float32: fit >= 3x,
  transform >= 5x;
- "partial_fit, 10 chunks" (tarnix_learn alone): the fit table in 10
  chunks, then categories_ read (the chunks' labels are merged then), total
  time <= 1.3x one fit.
Information rows: TextColumnEncoder on the whole frame (numeric columns pass
through).

With --dask: a LocalCluster of 2 worker processes with 1 thread each holds a
table of 5,000,000 rows x 4 text columns (about 50, 5,000, 2,000 with 2%
missing, and 200,000 labels; Arrow-backed str) in 20 partitions, made on the
workers. TextColumnEncoder's fit and transform(...).persist() against
dask-ml's Categorizer + OrdinalEncoder: >= 1.5x each, codes equal (theirs
mapped through their categories, -1 as NaN).

Run alone: .venv/bin/python bench/learn.py [--quick] [--repeats N] [--dask [--dask-rows N]]
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
TARGETS = (("fit", 1.5), ("transform", 3.0), ("fit, every option", 3.0),
           ("transform, every option", 5.0))
# partial_fit in CHUNKS chunks takes at most this many times one fit.
CHUNKS, CHUNKED_AT_MOST = 10, 1.3
# Every option set: categories given (each column's labels, last first).
EVERY_OPTION = {"min_frequency": 2, "max_categories": 500, "dtype": np.float32}
# The Dask table: rows, partitions, (cardinality, missing share) per column.
DASK = {"rows": 5_000_000, "partitions": 20,
        "columns": {"s50": (50, 0.0), "s5k": (5_000, 0.0), "s2k": (2_000, 0.02),
                    "s200k": (200_000, 0.0)}}
DASK_AT_LEAST = 1.5
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


def _every_option(fit_text):
    """Both encoders with every option set; the categories are each column's
    labels in reverse order (scikit-learn's get NaN last, so that missing
    cells are missing for it too)."""
    from sklearn.preprocessing import OrdinalEncoder

    from tarnix_learn import TextColumnEncoder

    given = [sorted(set(fit_text[name].dropna()), reverse=True) for name in fit_text.columns]
    common = dict(EVERY_OPTION, handle_unknown="use_encoded_value", unknown_value=-1)
    return {
        "tarnix_learn": lambda: TextColumnEncoder(categories=given, **common),
        "scikit-learn": lambda: OrdinalEncoder(categories=[g + [np.nan] for g in given],
                                               encoded_missing_value=np.nan, **common),
    }


def _codes(out):
    return out.to_numpy() if isinstance(out, pd.DataFrame) else out


def check(fitted, fit_text, score_text, options=""):
    """Both encoders' categories and codes agree; the codes of the scored
    table hold about UNSEEN_SHARE unknowns per text column."""
    ours, theirs = fitted["tarnix_learn"], fitted["scikit-learn"]
    for j, name in enumerate(data.TEXT_COLUMNS):
        sk = theirs.categories_[j]
        sk = sk[~pd.isna(sk)]
        if not np.array_equal(ours.categories_[j], sk):
            raise measure.Mismatch(f"[learn{options}] categories of {name} differ: "
                                   f"{len(ours.categories_[j])} vs scikit-learn's {len(sk)}")
    for what, table in (("fit table", fit_text), ("scored table", score_text)):
        got, want = _codes(ours.transform(table)), _codes(theirs.transform(table))
        if got.dtype != want.dtype:
            raise measure.Mismatch(f"[learn{options}] dtype {got.dtype} vs scikit-learn's {want.dtype}")
        measure.check_codes(f"[learn{options}] transform of the {what}", got.astype(np.float64),
                            want.astype(np.float64))
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
    results = []
    for options, encoders in (("", _encoders()), (", every option", _every_option(fit_text))):
        progress.say(f"[learn{options}] checking that both encoders agree")
        fitted = {peer: make().fit(fit_text) for peer, make in encoders.items()}
        check(fitted, fit_text, score_text, options)
        steps = {
            "fit": (fit_text, {peer: (lambda make=make: make().fit(fit_text))
                               for peer, make in encoders.items()}),
            "transform": (score_text, {peer: (lambda encoder=encoder: encoder.transform(score_text))
                                       for peer, encoder in fitted.items()}),
        }
        for step, (table, fns) in steps.items():
            times = timed_alternating(fns, repeats, f"[learn] {step}{options}, {len(table):,} x "
                                      f"{len(text)}", progress)
            for peer in encoders:
                _record(results, step + options, peer, table, times[peer])
            del times
            gc.collect()
        del fitted
    # partial_fit of the fit table in chunks against one fit, alternating.
    make = _encoders()["tarnix_learn"]
    chunks = [fit_text.iloc[rows] for rows in np.array_split(np.arange(len(fit_text)), CHUNKS)]
    whole, parts = make().fit(fit_text), make()
    for chunk in chunks:
        parts.partial_fit(chunk)
    if any(not np.array_equal(a, b) for a, b in zip(whole.categories_, parts.categories_)):
        raise measure.Mismatch("[learn] partial_fit gives other categories than fit")

    def chunked():
        encoder = make()
        for chunk in chunks:
            encoder.partial_fit(chunk)
        # The chunks' labels are merged when the mapping is first needed.
        encoder.categories_
        return encoder
    times = timed_alternating({"fit": lambda: make().fit(fit_text), "chunked": chunked}, repeats,
                              f"[learn] partial_fit in {CHUNKS} chunks against one fit", progress)
    _record(results, f"partial_fit, {CHUNKS} chunks", "tarnix_learn", fit_text, times["chunked"],
            note=f"target: <= {CHUNKED_AT_MOST}x one fit, same run")
    _record(results, f"partial_fit, {CHUNKS} chunks", "tarnix_learn, one fit", fit_text,
            times["fit"], note="the same run's one fit")
    # Information: the whole frame, numeric columns passed through.
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


def chunked_ratio(results):
    """partial_fit's total time over one fit's, from the same run."""
    median = {(r["step"], r["peer"]): r["median"] for r in results}
    step = f"partial_fit, {CHUNKS} chunks"
    return median[(step, "tarnix_learn")] / median[(step, "tarnix_learn, one fit")]


def _dask_partition(index, rows, seed=21):
    """Partition `index` of the Dask table, made on a worker."""
    rng = np.random.default_rng([seed, index])
    columns = {}
    for prefix, (name, (cardinality, missing)) in zip("pqrs", DASK["columns"].items()):
        codes = rng.integers(0, cardinality, rows)
        cells = np.array([f"{prefix}{i:07d}" for i in range(cardinality)], dtype=object)[codes]
        if missing:
            cells[rng.random(rows) < missing] = None
        columns[name] = pd.array(cells, dtype=pd.StringDtype("pyarrow", na_value=np.nan))
    frame = pd.DataFrame(columns)
    frame.index += index * rows
    return frame


def run_dask(rows, partitions, repeats, progress=None):
    """Times TextColumnEncoder against dask-ml on a LocalCluster; returns
    result rows like run()'s."""
    import dask
    import dask.dataframe as dd
    from dask_ml.preprocessing import Categorizer
    from dask_ml.preprocessing import OrdinalEncoder as DaskOrdinalEncoder
    from distributed import Client, LocalCluster, wait

    from tarnix_learn import TextColumnEncoder

    progress = progress or measure.Progress()
    progress.say(f"[learn, dask] starting a LocalCluster of 2 workers x 1 thread")
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                      dashboard_address=None) as cluster, Client(cluster):
        size = rows // partitions
        progress.say(f"[learn, dask] making {partitions} partitions of {size:,} rows on the workers")
        meta = _dask_partition(0, 0)
        ddf = dd.from_delayed([dask.delayed(_dask_partition)(i, size) for i in range(partitions)],
                              meta=meta, divisions=[i * size for i in range(partitions)] + [rows - 1])
        ddf = ddf.persist()
        wait(ddf)

        def ours_fit():
            return TextColumnEncoder().fit(ddf)

        def theirs_fit():
            categorizer = Categorizer().fit(ddf)
            return categorizer, DaskOrdinalEncoder().fit(categorizer.transform(ddf))

        def persisted(frame):
            frame = frame.persist()
            wait(frame)
            return frame

        progress.say("[learn, dask] checking that both give the same codes")
        ours, (categorizer, theirs) = ours_fit(), theirs_fit()
        got = ours.transform(ddf).compute()
        want = theirs.transform(categorizer.transform(ddf)).compute()
        for j, name in enumerate(ddf.columns):
            categories = np.asarray(categorizer.categories_[name].categories, dtype=object)
            position = np.searchsorted(ours.categories_[j], categories)
            theirs_codes = want[name].to_numpy(dtype=np.float64)
            mapped = np.where(theirs_codes < 0, np.nan,
                              position[np.maximum(theirs_codes, 0).astype(np.intp)])
            measure.check_codes(f"[learn, dask] codes of {name}", got[name].to_numpy(), mapped)
        del got, want
        results = []
        steps = {
            "fit": {"tarnix_learn": ours_fit, "dask-ml": theirs_fit},
            "transform().persist()": {
                "tarnix_learn": lambda: persisted(ours.transform(ddf)),
                "dask-ml": lambda: persisted(theirs.transform(categorizer.transform(ddf)))},
        }
        for step, fns in steps.items():
            times = timed_alternating(fns, repeats, f"[learn, dask] {step}, {rows:,} x 4", progress)
            for peer, peer_times in times.items():
                results.append({"case": CASE, "step": f"dask {step}", "peer": peer, "rows": rows,
                                "cells": rows * 4, "times": peer_times,
                                "median": statistics.median(peer_times), "note": ""})
    return results


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="small tables, 2 runs each")
    parser.add_argument("--repeats", type=int, help="runs per timing (default 5, quick 2)")
    parser.add_argument("--dask", action="store_true", help="also the Dask case")
    parser.add_argument("--dask-rows", type=int, default=DASK["rows"], help="rows of the Dask table")
    parser.add_argument("--no-single", action="store_true", help="the Dask case only")
    args = parser.parse_args(argv)
    results = [] if args.no_single else run(args.quick, args.repeats)
    if args.dask or args.no_single:
        results += run_dask(args.dask_rows, DASK["partitions"], args.repeats or 3)
    print()
    print("| step | peer | rows | median |")
    print("|---|---|---|---|")
    for r in results:
        print(f"| {r['step']} | {r['peer']} | {r['rows']:,} | {measure.format_seconds(r['median'])} |")
    print()
    if not args.no_single:
        for step, ratio, target, met in speedups(results):
            print(f"{step}: scikit-learn / tarnix_learn = {ratio:.2f}x (target >= {target}x): "
                  f"{'yes' if met else 'NO'}")
        ratio = chunked_ratio(results)
        print(f"partial_fit in {CHUNKS} chunks / one fit = {ratio:.2f}x (target <= "
              f"{CHUNKED_AT_MOST}x): {'yes' if ratio <= CHUNKED_AT_MOST else 'NO'}")
    median = {(r["step"], r["peer"]): r["median"] for r in results}
    for step in ("fit", "transform().persist()"):
        if (f"dask {step}", "dask-ml") in median:
            ratio = median[(f"dask {step}", "dask-ml")] / median[(f"dask {step}", "tarnix_learn")]
            print(f"dask {step}: dask-ml / tarnix_learn = {ratio:.2f}x (target >= "
                  f"{DASK_AT_LEAST}x): {'yes' if ratio >= DASK_AT_LEAST else 'NO'}")


if __name__ == "__main__":
    main()
