"""Markdown table and bar chart of a benchmark run."""

import os
import statistics

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

import learn  # noqa: E402
from measure import format_seconds  # noqa: E402

GROWTH_TARGET_FROM, GROWTH_TARGET_TO = 10**5, 10**7
CSV_TITLES = {"5": "Arrow-backed str", "5p": "Python-backed str", "5o": "object",
              "5a": "dtype_backend=\"pyarrow\"", "5an": "dtype_backend=\"numpy_nullable\""}
# Cases with a table of their own, outside the main one.
OWN_TABLES = ("4", "threads", "column stage", "two threads", "memory", "learn", "7")
# Memory targets, on case 1's table: peak above the input over the output's
# size, and bytes the record retains per distinct label (labels of up to
# MEMORY_LABEL_BYTES bytes).
MEMORY_PEAK_RATIO, MEMORY_BYTES_PER_LABEL, MEMORY_LABEL_BYTES = 2.0, 48, 12
# Resident memory after the output and the encoder are dropped, over the
# resident memory before the call, at most.
MEMORY_RSS_AFTER = 1.1
# Case 5a (either backend) against case 5: time at most this share.
BACKEND_SHARE = 1.25


def _find(results, case, step, peer, rows=None):
    for r in results:
        if r["case"] == case and r["step"] == step and r["peer"] == peer and rows in (None, r["rows"]):
            return r
    return None


def _ratio(results, r, base="tarnix"):
    """Peer median over the median of `base` (tarnix) for the same case and step."""
    base = _find(results, r["case"], r["step"], base)
    return r["median"] / base["median"] if base else None


def _case_title(r):
    case, rows = r["case"], r["rows"]
    if case == "1":
        return f"1 DataFrame {rows:,} x 8"
    if case == "1a":
        return f"1a DataFrame {rows:,} x 8, Arrow-backed str"
    if case == "1c":
        return f"1c DataFrame {rows:,} x 8, category"
    if case in CSV_TITLES:
        return f"{case} CSV read back {rows:,} x {r['cells'] // rows}, {CSV_TITLES[case]}"
    if case == "2":
        return f"2 object array {rows:,} x 4"
    if case in ("3C", "3F"):
        return f"3 float64 {rows:,} x 4, {case[1]} order"
    return case


def _versus(results, case, step, peer):
    """tarnix's speed-up over `peer`, or None when either was not run."""
    r = _find(results, case, step, peer)
    return _ratio(results, r) if r else None


def _speedup(results, case, step):
    """Time on 1 thread over time on 2, or None when either was not run."""
    one = _find(results, case, step, "tarnix, 1 thread")
    two = _find(results, case, step, "tarnix, 2 threads")
    return one["median"] / two["median"] if one and two else None


def _times(value):
    return f"{value:.2f}x" if value else "not run"


def _targets(results):
    """(target, measured, met) rows; met is None when the numbers are missing."""
    rows = []

    def versus(case, step, peer, at_least, label):
        ratio = _versus(results, case, step, peer)
        rows.append((label, _times(ratio), None if ratio is None else ratio >= at_least))

    versus("1", "encode", "scikit-learn", 20, "Case 1 encode >= 20x faster than scikit-learn")
    versus("1", "encode", "pandas", 8, "Case 1 encode >= 8x faster than the pandas factorize loop")
    versus("1", "encode", "polars", 3,
           "Case 1 encode >= 3x faster than polars (Enum cast, fed from the pandas frame)")
    versus("1", "decode", "scikit-learn", 3, "Case 1 decode >= 3x faster than scikit-learn")
    versus("1", "decode", "pandas frame", 1.3,
           "Case 1 decode >= 1.3x faster than pandas building the same DataFrame")
    versus("1", "decode", "pandas", 0.8,
           "Case 1 decode >= 0.8x the speed of the pandas take alone (no frame built)")
    for case, at_most, what in (("1a", 0.6, "Arrow-backed str"), ("1c", 0.3, "category")):
        r, base = _find(results, case, "encode", "tarnix"), _find(results, "1", "encode", "tarnix")
        share = r["median"] / base["median"] if r and base else None
        rows.append((f"Case {case} encode ({what}) <= {at_most}x case 1's (Python-backed str)",
                     f"{case} / 1 = {share:.2f}" if share else f"not run (needs cases 1 and {case})",
                     None if share is None else share <= at_most))
    versus("1a", "encode", "polars from_arrow", 1,
           "Case 1a encode no slower than polars (Enum cast, text read by `pl.from_arrow`)")
    versus("2", "encode", "pandas", 6, "Case 2 encode >= 6x faster than the pandas factorize loop")
    versus("2", "decode", "pandas", 2, "Case 2 decode >= 2x faster than the pandas factorize loop")
    versus("2", "decode", "scikit-learn", 1.3, "Case 2 decode >= 1.3x faster than scikit-learn")
    for order in "CF":
        r = _find(results, f"3{order}", "encode", "numpy copy")
        ratio = 1 / _ratio(results, r) if r else None
        rows.append((f"Case 3 ({order} order) within 1.5x of numpy.array copy",
                     f"tarnix / numpy = {ratio:.2f}" if ratio else "not run",
                     None if ratio is None else ratio <= 1.5))
    for step in ("encode", "decode"):
        per_cell = [r["median"] / r["cells"] for r in results if r["case"] == "4" and r["step"] == step
                    and GROWTH_TARGET_FROM <= r["rows"] <= GROWTH_TARGET_TO]
        sizes = {r["rows"] for r in results if r["case"] == "4" and r["step"] == step}
        complete = {GROWTH_TARGET_FROM, GROWTH_TARGET_TO} <= sizes
        spread = max(per_cell) / min(per_cell) if per_cell else None
        rows.append((f"Case 4 {step}: time per cell within 25% from 10^5 to 10^7 rows",
                     f"max / min = {spread:.2f}" + ("" if complete else " (10^7 not run)") if spread else "not run",
                     None if spread is None or not complete else spread <= 1.25))
    speedup = _speedup(results, "column stage", "encode")
    rows.append(("Threads column stage: 2 threads >= 1.6x faster than 1", _times(speedup),
                 None if speedup is None else speedup >= 1.6))
    speedup = _speedup(results, "threads", "encode")
    rows.append(("Threads whole encode call: 2 threads >= 1.6x faster than 1", _times(speedup),
                 None if speedup is None else speedup >= 1.6))
    speedup = _two_threads_speedup(results)
    rows.append(("Two Python threads, each encoding its own table on a pool of 1 thread, "
                 ">= 1.5x faster than one after the other", _times(speedup),
                 None if speedup is None else speedup >= 1.5))
    for case in CSV_TITLES:
        versus(case, "encode", "pandas", 3,
               f"Case {case} encode ({CSV_TITLES[case]}) >= 3x faster than the pandas factorize loop")
    for case in ("5a", "5an"):
        r, base = _find(results, case, "encode", "tarnix"), _find(results, "5", "encode", "tarnix")
        share = r["median"] / base["median"] if r and base else None
        rows.append((f"Case {case} encode ({CSV_TITLES[case]}) within {BACKEND_SHARE}x of case 5's",
                     f"{case} / 5 = {share:.2f}" if share else f"not run (needs cases 5 and 5a)",
                     None if share is None else share <= BACKEND_SHARE))
    memory = _memory_of(results, "1")
    ratio = memory["peak"] / memory["output"] if memory else None
    rows.append((f"Case 1 memory: peak of an encode above its input <= {MEMORY_PEAK_RATIO}x the output's size",
                 f"{ratio:.2f}x" if ratio is not None else "not run",
                 None if ratio is None else ratio <= MEMORY_PEAK_RATIO))
    after = memory["rss_after"] / memory["rss_before"] if memory and "rss_after" in memory else None
    rows.append((f"Case 1 memory: resident after dropping output and encoder <= {MEMORY_RSS_AFTER}x before the call",
                 f"{after:.3f}x" if after is not None else "not run",
                 None if after is None else after <= MEMORY_RSS_AFTER))
    per_label = memory["retained"] / memory["labels"] if memory and memory["labels"] else None
    applies = per_label is not None and memory["label_bytes"] <= MEMORY_LABEL_BYTES
    rows.append((f"Case 1 memory: record <= {MEMORY_BYTES_PER_LABEL} B per distinct label "
                 f"(labels of up to {MEMORY_LABEL_BYTES} bytes)",
                 "not run" if per_label is None else f"{per_label:.1f} B ({memory['method']})"
                 + ("" if applies else f", labels of up to {memory['label_bytes']} bytes"),
                 per_label <= MEMORY_BYTES_PER_LABEL if applies else None))
    learned = [r for r in results if r["case"] == learn.CASE]
    measured = learn.speedups(learned) if learned else [(step, None, at_least, None)
                                                        for step, at_least in learn.TARGETS]
    for step, ratio, at_least, met in measured:
        rows.append((f"Case 6 {step} >= {at_least:g}x faster than scikit-learn's OrdinalEncoder",
                     _times(ratio), met))
    chunked = (learn.chunked_ratio(learned)
               if any(r["step"].startswith("partial_fit") for r in learned) else None)
    rows.append((f"Case 6 partial_fit in {learn.CHUNKS} chunks <= {learn.CHUNKED_AT_MOST:g}x one fit",
                 _times(chunked), None if chunked is None else chunked <= learn.CHUNKED_AT_MOST))
    return rows


def _two_threads_speedup(results):
    one = _find(results, "two threads", "one after the other", "tarnix, 1 pool thread")
    two = _find(results, "two threads", "two threads", "tarnix, 1 pool thread")
    return one["median"] / two["median"] if one and two else None


def _memory_of(results, case):
    return next((r for r in results if r["case"] == "memory" and r["of_case"] == case), None)



def _information(results):
    """(what, measured) rows shown next to the targets but not targets
    themselves: the other polars variants and decoding's whole-call speed-up."""
    rows = []
    for r in results:
        if (r["case"] in ("1", "1a", "1c") and r["step"] == "encode" and r["peer"].startswith("polars ")
                and r["peer"] != "polars from_arrow"):
            rows.append((f"Case {r['case']} encode, {r['peer']} / tarnix", _times(_ratio(results, r))))
    speedup = _speedup(results, "threads", "decode")
    if speedup:
        rows.append(("Threads decode, whole call: 1 thread / 2 threads", _times(speedup)))
    return rows


THREAD_COLUMNS = (("threads", "encode", "Encode, whole call"), ("threads", "decode", "Decode, whole call"),
                  ("column stage", "encode", "Column stage of encode"))


def _thread_columns(results):
    return [(case, step, title) for case, step, title in THREAD_COLUMNS
            if _find(results, case, step, "tarnix, 1 thread")]


def _threads_table(results):
    """Whole-call and column-stage times per pool size, with the speed-ups."""
    present = _thread_columns(results)
    if not present:
        return []
    rows = next(r["rows"] for r in results if r["case"] in ("threads", "column stage"))
    lines = ["", f"Case 4, threads (tarnix, {rows:,} rows, one process per `RAYON_NUM_THREADS`):", ""]
    if any(case == "threads" for case, _, _ in present):
        lines.append(f"- Whole call: `Encoder.encode` / `decode` on case 1's DataFrame, median of "
                     f"{len(_find(results, 'threads', 'encode', 'tarnix, 1 thread')['times'])} runs.")
    if any(case == "column stage" for case, _, _ in present):
        r = _find(results, "column stage", "encode", "tarnix, 1 thread")
        lines.append("- Column stage: the parallel part of encoding alone (label encoding of the text columns "
                     "and the matrix writes), timed by the native `build/bench/column_stage_bench` on a table "
                     f"shaped like case 1's ({rows:,} x 8: 4 text columns with labels drawn from 10, 1,000, "
                     f"100,000 and {rows:,} values, about 1% missing, and 4 numeric columns). Pool sizes alternate over "
                     f"{len(r['times'])} rounds, each a fresh process timing {r['runs_per_process']} runs; "
                     "the time is the median over the rounds of each process's median.")
    lines += ["", "| Pool | " + " | ".join(title for _, _, title in present) + " |",
              "|---|" + "---:|" * len(present)]
    for peer in ("tarnix, 1 thread", "tarnix, 2 threads"):
        cells = [_find(results, case, step, peer) for case, step, _ in present]
        lines.append(f"| {peer} | " + " | ".join(format_seconds(r["median"]) if r else "-" for r in cells) + " |")
    lines.append("| Speed-up, 1 thread / 2 threads | "
                 + " | ".join(_times(_speedup(results, case, step)) for case, step, _ in present) + " |")
    return lines


def _two_threads_lines(results):
    one = _find(results, "two threads", "one after the other", "tarnix, 1 pool thread")
    two = _find(results, "two threads", "two threads", "tarnix, 1 pool thread")
    if not (one and two):
        return []
    return ["", f"Case 4, two Python threads (tarnix, `RAYON_NUM_THREADS=1`, a fresh process): two DataFrames "
            f"shaped like case 1's, {one['rows']:,} rows each, each encoded by its own `Encoder`; median of "
            f"{len(one['times'])} runs, the two ways alternating:", "",
            "| One after the other | In two threads at once | Speed-up |", "|---:|---:|---:|",
            f"| {format_seconds(one['median'])} | {format_seconds(two['median'])} | "
            f"{_times(_two_threads_speedup(results))} |"]


def _learn_table(results):
    learned = [r for r in results if r["case"] == learn.CASE]
    if not learned:
        return []
    lines = ["", "Case 6, fit once, transform later (bench/learn.py): `tarnix_learn.TextColumnEncoder` against "
             "scikit-learn's `OrdinalEncoder` on the 4 text columns of case 1's DataFrame (fit) and on a "
             f"table of a quarter of its rows with {learn.UNSEEN_SHARE:.0%} unseen labels per text column "
             "(transform, unknowns -1); the runs of the two encoders alternate.", "",
             "| Step | Peer | Rows x columns | Median | Runs | Ratio to tarnix_learn |",
             "|---|---|---|---:|---:|---:|"]
    for r in learned:
        base = _find(learned, learn.CASE, r["step"], "tarnix_learn")
        lines.append(f"| {r['step']} | {r['peer']} | {r['rows']:,} x {r['cells'] // r['rows']} | "
                     f"{format_seconds(r['median'])} | {len(r['times'])} | {r['median'] / base['median']:.2f} |")
    return lines


def _mib(value):
    """A byte count in MiB, or KiB / B when it is small."""
    if abs(value) >= 2**20:
        return f"{value / 2**20:.1f} MiB"
    if abs(value) >= 2**10:
        return f"{value / 2**10:.1f} KiB"
    return f"{value} B"


def _memory_table(results):
    measured = [r for r in results if r["case"] == "memory"]
    if not measured:
        return []
    method = measured[0]["method"]
    lines = ["", "Memory of one tarnix encode per case, each in a fresh process after a small encode "
             "(imports, pool) and with freed heap given back to the system:", "",
             "- Peak above the input: the process's resident-set high-water mark during one `encode` "
             "(VmHWM, reset through /proc/self/clear_refs) minus its RSS just before it.",
             f"- Record: bytes in use by malloc ({'glibc `mallinfo2`: uordblks + hblkhd' if method == 'mallinfo2' else 'RSS, mallinfo2 missing'}) "
             "after the encode with its output dropped, minus the same `Encoder` before it encoded; per "
             "distinct label of the table's text columns. \"Left\" is what stays in use once the "
             "`Encoder` is dropped too.", "",
             "| Case | Rows | Distinct labels | Longest label | Output | Peak above input | Peak / output | "
             "Record | Record per label | Left | RSS before | RSS after dropping both |",
             "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"]
    for r in measured:
        peak = _mib(r["peak"]) + ("" if r["peak_exact"] else " (peak since start)")
        per_label = f"{r['retained'] / r['labels']:.1f} B" if r["labels"] else "-"
        lines.append(f"| {r['of_case']} | {r['rows']:,} | {r['labels']:,} | {r['label_bytes']} B | "
                     f"{_mib(r['output'])} | {peak} | {r['peak'] / r['output']:.2f}x | {_mib(r['retained'])} | "
                     f"{per_label} | {_mib(r['left'])} | {_mib(r['rss_before'])} | {_mib(r['rss_after'])} |")
    return lines


def _scale_table(results):
    measured = [r for r in results if r["case"] == "7"]
    if not measured:
        return []
    lines = ["", f"Case 7, scale: a DataFrame of {measured[0]['rows']:,} x 8 shaped like case 1's, its 4 text "
             "columns `str` on pyarrow storage with labels drawn from 10, 1,000, 100,000 and 10,000,000 values "
             "(about 1% missing), built from dictionary indices; each peer in a fresh process that builds the "
             "frame, the codes' digests checked equal. Peak: RSS high-water mark during the encodes above the "
             "RSS with the frame built.", "",
             "| Peer | Median | CPU (median) | Runs | Load | Input | Output | Peak above input | "
             "Peak above input and output | Peak / output |",
             "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|"]
    for r in measured:
        if r.get("did_not_fit"):
            lines.append(f"| {r['peer']} | did not fit: stopped while {r['stage']}, the machine's available "
                         f"memory below 1.5 GiB | | {len(r['times'])} | {r['load']:.1f} | {_mib(r['input'])} | | "
                         f"{_mib(r['peak'])} | | |")
            continue
        cpu = format_seconds(statistics.median(r["cpu"])) if r.get("cpu") else "-"
        load = f"{r['load']:.1f}" if r.get("load") is not None else "-"
        lines.append(f"| {r['peer']} | {format_seconds(r['median'])} | {cpu} | {len(r['times'])} | {load} | "
                     f"{_mib(r['input'])} | {_mib(r['output'])} | {_mib(r['peak'])} | "
                     f"{_mib(r['peak'] - r['output'])} | {r['peak'] / r['output']:.2f}x |")
    return lines


def markdown(results, run):
    env = run["environment"]
    lines = ["# tarnix benchmark", ""]
    lines += [f"- Run: {env['date']}, `{run['command']}`, {run['elapsed'] / 60:.1f} min"
              + (" (quick: small sizes)" if run["quick"] else ""),
              f"- Machine: {env['machine']}, load average {run['load'][0]:.1f} at the start and "
              f"{run['load'][1]:.1f} at the end; Python {env['python']}; tarnix at {env['commit']}",
              "- Peers: " + ", ".join(f"{k} {v}" for k, v in env["versions"].items()),
              f"- Each time is the median of {run['repeats']} runs (at most 3 for tables of 5,000,000 rows "
              "or more), after an untimed run whose output was checked against tarnix's.",
              "- Ratio: peer time / tarnix time (above 1: tarnix is faster).", ""]
    lines += ["| Case | Step | Peer | Median | Runs | Ratio to tarnix |", "|---|---|---|---:|---:|---:|"]
    for r in results:
        if r["case"] in OWN_TABLES:
            continue
        ratio = _ratio(results, r)
        step = "copy" if r["case"].startswith("3") else r["step"]
        lines.append(f"| {_case_title(r)} | {step} | {r['peer']} | {format_seconds(r['median'])} | "
                     f"{len(r['times'])} | {ratio:.2f} |")
    growth = [r for r in results if r["case"] == "4"]
    if growth:
        lines += ["", "Case 4, growth (tarnix, DataFrame of case 1 at each row count, 8 columns):", "",
                  "| Rows | Encode | ns per cell | Decode | ns per cell | Runs |", "|---:|---:|---:|---:|---:|---:|"]
        for rows in sorted({r["rows"] for r in growth}):
            enc, dec = _find(growth, "4", "encode", "tarnix", rows), _find(growth, "4", "decode", "tarnix", rows)
            lines.append(f"| {rows:,} | {format_seconds(enc['median'])} | {enc['median'] / enc['cells'] * 1e9:.0f} | "
                         f"{format_seconds(dec['median'])} | {dec['median'] / dec['cells'] * 1e9:.0f} | "
                         f"{len(enc['times'])} |")
    lines += _threads_table(results)
    lines += _two_threads_lines(results)
    lines += _learn_table(results)
    lines += _memory_table(results)
    lines += _scale_table(results)
    lines += ["", "## Targets", "", "| Target | Measured | Met |", "|---|---|---|"]
    for target, measured, met in _targets(results):
        lines.append(f"| {target} | {measured} | {'-' if met is None else 'yes' if met else 'NO'} |")
    information = _information(results)
    if information:
        lines += ["", "For information (not targets):", "", "| Measure | Value |", "|---|---|"]
        lines += [f"| {what} | {value} |" for what, value in information]
    lines += ["", "## Notes", "",
              "- All peers produce the same thing: codes 0..k-1 in sorted (byte) order of the labels, "
              "NaN for missing, numeric columns as float64; tarnix returns a DataFrame (cases 1, 1a, 1c, 5, 5p, 5o) "
              "or an array, the peers a float64 array. Decode gives the labels back (tarnix: a DataFrame with "
              "object columns, None for missing; peers: their label arrays).",
              "- Inputs: case 1's text columns have pandas' `str` dtype (Python storage), about 1% "
              "missing (None and NaN, both NaN in that dtype); f0 has about 1% NaN. Labels are ASCII, "
              "so every peer's sort is byte order. Case 1a has the same cells with `str` on pyarrow "
              "storage, case 1c with `category` (categories of the default `str` dtype). Case 2 has "
              "text cells only. Case 5 is written to a CSV file and read back with `pandas.read_csv`: "
              "4 text columns of 2, 3, 5 and 7 labels (about 0.1% missing), which come back as `str` "
              "on pyarrow storage (read_csv's default), and 3 numeric columns; cases 5p and 5o read the "
              "same file with the text columns asked for as `str` on Python storage "
              "(`dtype=pd.StringDtype(storage=\"python\", na_value=np.nan)`) and as `object`; cases 5a "
              "and 5an read it with `dtype_backend=\"pyarrow\"` (every column an `ArrowDtype`) and "
              "`\"numpy_nullable\"` (masked `Int64`/`Float64` and `string` columns), their pandas peer takes "
              "the numeric columns with `to_numpy(dtype=float64, na_value=nan)`.",
              "- tarnix's decode of every frame is checked against the input: object columns of str, "
              "None for missing."]
    notes = {}
    for r in results:
        if r["note"]:
            notes.setdefault(r["peer"], r["note"])
    lines += [f"- {peer}: {note}." for peer, note in notes.items()]
    lines += [f"- Skipped: {item}." for item in run["skipped"]]
    return "\n".join(lines) + "\n"


def _short_ratio(ratio):
    return f"{ratio:.0f}x" if ratio >= 10 else f"{ratio:.1f}x" if ratio >= 1 else f"{ratio:.2f}x"


def _bars(ax, results, case, title, log=True, base="tarnix"):
    subset = [r for r in results if r["case"] == case]
    steps = list(dict.fromkeys(r["step"] for r in subset))
    names = list(dict.fromkeys(r["peer"] for r in subset))
    width = 0.8 / max(len(names), 1)
    for i, name in enumerate(names):
        for k, step in enumerate(steps):
            r = _find(subset, case, step, name)
            if not r:
                continue
            bar = ax.bar(k + i * width, r["median"], width, color=f"C{i}", label=name if k == 0 else None)
            ratio = _ratio(results, r, base)
            if name != base and ratio:
                ax.bar_label(bar, [_short_ratio(ratio)], fontsize=7, rotation=90, padding=2)
    ax.set_xticks([k + width * (len(names) - 1) / 2 for k in range(len(steps))], steps)
    if log:
        ax.set_yscale("log")
    ax.set_ylabel("median time (s)")
    ax.set_title(title, fontsize=10)
    ax.legend(fontsize=7)
    ax.margins(y=0.25)


def chart(results, path):
    fig, axes = plt.subplots(4, 3, figsize=(15, 18))
    panels = [*axes[0], axes[1][0], axes[1][2], *axes[2][:2]]
    for ax, case in zip(panels, ("1", "1a", "1c", "2", "5", "5p", "5o")):
        first = next((r for r in results if r["case"] == case), None)
        if first:
            _bars(ax, results, case, f"Case {_case_title(first)}\n(label: peer / tarnix)")
        else:
            ax.set_visible(False)
    float_rows = [r for r in results if r["case"] in ("3C", "3F")]
    ax = axes[1][1]
    if float_rows:
        merged = [dict(r, case="3", step=f"{r['case'][1]} order") for r in float_rows]
        _bars(ax, merged, "3", f"Case 3 float64 {float_rows[0]['rows']:,} x 4 copy", log=False)
    else:
        ax.set_visible(False)
    ax = axes[2][2]
    fit = _find(results, learn.CASE, "fit", "tarnix_learn")
    if fit:
        _bars(ax, results, learn.CASE, f"Case 6 fit {fit['rows']:,} rows, transform a quarter of them\n"
              "(label: peer / tarnix_learn)", base="tarnix_learn")
    else:
        ax.set_visible(False)
    growth = [r for r in results if r["case"] == "4"]
    ax = axes[3][0]
    if growth:
        sizes = sorted({r["rows"] for r in growth})
        for i, step in enumerate(("encode", "decode")):
            per_cell = [_find(growth, "4", step, "tarnix", n)["median"] / (n * 8) * 1e9 for n in sizes]
            ax.bar([k + i * 0.4 for k in range(len(sizes))], per_cell, 0.4, color=f"C{i}", label=step)
        ax.set_xticks([k + 0.2 for k in range(len(sizes))], [f"{n:,}" for n in sizes])
        ax.set_xlabel("rows")
        ax.set_ylabel("ns per cell")
        ax.set_title("Case 4 growth: tarnix time per cell", fontsize=10)
        ax.legend(fontsize=7)
    else:
        ax.set_visible(False)
    present = _thread_columns(results)
    ax = axes[3][1]
    if present:
        rows = next(r["rows"] for r in results if r["case"] in ("threads", "column stage"))
        for i, pool in enumerate(("tarnix, 1 thread", "tarnix, 2 threads")):
            for k, (case, step, _) in enumerate(present):
                r = _find(results, case, step, pool)
                if r:
                    ax.bar(k + i * 0.4, r["median"], 0.4, color=f"C{i}", label=pool if k == 0 else None)
        labels = []
        for case, step, title in present:
            speedup = _speedup(results, case, step)
            labels.append(title.replace(", ", "\n").replace(" of ", "\nof ")
                          + (f"\nspeed-up {speedup:.2f}x" if speedup else ""))
        ax.set_xticks([k + 0.2 for k in range(len(present))], labels, fontsize=8)
        ax.set_ylabel("median time (s)")
        ax.set_title(f"Case 4 threads: {rows:,} rows", fontsize=10)
        ax.legend(fontsize=7)
    else:
        ax.set_visible(False)
    ax = axes[3][2]
    ax.axis("off")
    text = "\n".join(f"{'+' if met else '-' if met is None else 'x'} {target.replace('Case ', 'C')}: {measured}"
                     for target, measured, met in _targets(results))
    information = "\n".join(f"i {what.replace('Case ', 'C')}: {value}" for what, value in _information(results))
    ax.text(0, 1, "Targets (+ met, x missed, - not run)\n\n" + text
            + ("\n\nFor information (not targets)\n\n" + information if information else ""),
            va="top", fontsize=7, family="monospace", wrap=True)
    fig.tight_layout()
    fig.savefig(path, dpi=100, format="png")
    plt.close(fig)


def write(out_dir, stem, results, run):
    os.makedirs(out_dir, exist_ok=True)
    md_path, png_path = os.path.join(out_dir, stem + ".md"), os.path.join(out_dir, stem + ".png")
    temporary = md_path + ".tmp"
    with open(temporary, "w") as out:
        out.write(markdown(results, run))
    os.replace(temporary, md_path)
    temporary = png_path + ".tmp"
    chart(results, temporary)
    os.replace(temporary, png_path)
    return [md_path, png_path]
