"""Figures of the free-threaded interpreter: how long a gc.collect() in
another thread waits while an encode reads its cells (a stop-the-world pause
has to wait for every attached thread), and two threads encoding their own
tables against the same two encodes one after the other, on a pool of one
thread. Run it through `bench/run.sh --threads [--quick]`, which runs it on
the free-threaded CPython 3.14; it runs on any interpreter.

Targets: the longest gc.collect() wait at most 0.1 s whatever the encode's
length (the wait: the longest collect during the encode less the median
collect while nothing else runs); two threads at least 1.6x as fast as one after the other.
Writes threads.md (threads-quick.md with --quick) into bench/results/.
"""

import argparse
import gc
import os
import platform
import statistics
import sys
import sysconfig
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import numpy as np  # noqa: E402

import measure  # noqa: E402

WAIT_TARGET = 0.1  # s, longest gc.collect() during an encode
SCALING_TARGET = 1.6  # two threads against one after the other

FULL = {"pause_rows": (750_000, 1_500_000), "pause_columns": 3, "two_threads_rows": 500_000, "repeats": 5}
QUICK = {"pause_rows": (50_000, 100_000), "pause_columns": 3, "two_threads_rows": 20_000, "repeats": 2}


def pause_table(rows, columns, seed=5):
    """rows x columns object cells, each a str of its own (as a CSV reader
    makes them), 1,000 distinct labels per column."""
    rng = np.random.default_rng(seed)
    table = np.empty((rows, columns), dtype=object)
    for j in range(columns):
        picks = rng.integers(0, 1_000, rows)
        table[:, j] = [f"{chr(97 + j)}{k:07d}" for k in picks.tolist()]
    return table


def collect_waits(table, progress, label):
    """Encodes `table` in a thread while this one calls gc.collect() again
    and again; returns the encode's time, the longest collect and the number
    of collects that overlapped the encode."""
    import tarnix

    started = threading.Event()
    done = threading.Event()
    span = {}

    def encode():
        encoder = tarnix.Encoder()
        started.set()
        began = time.perf_counter()
        encoder.encode(table)
        span["encode"] = time.perf_counter() - began
        done.set()

    worker = threading.Thread(target=encode)
    worker.start()
    started.wait()
    waits = []
    while not done.is_set():
        began = time.perf_counter()
        gc.collect()
        waits.append(time.perf_counter() - began)
    worker.join()
    progress.say(f"{label}: encode {measure.format_seconds(span['encode'])}, {len(waits)} collects, "
                 f"longest {measure.format_seconds(max(waits))}")
    return span["encode"], max(waits), len(waits)


def case_pause(sizes, repeats, progress):
    import tarnix

    rows_list, columns = sizes["pause_rows"], sizes["pause_columns"]
    results = []
    for rows in rows_list:
        progress.say(f"[pause] making {rows:,} x {columns} object cells")
        table = pause_table(rows, columns)
        tarnix.Encoder().encode(table[:1000])
        quiet = []
        for _ in range(5):
            began = time.perf_counter()
            gc.collect()
            quiet.append(time.perf_counter() - began)
        runs = [collect_waits(table, progress, f"[pause] {rows:,} x {columns}, run {run + 1}/{repeats}")
                for run in range(repeats)]
        results.append({"rows": rows, "columns": columns, "quiet_collect": statistics.median(quiet),
                        "encode": statistics.median(r[0] for r in runs),
                        "longest_wait": max(r[1] for r in runs),
                        "collects": statistics.median(r[2] for r in runs)})
        del table
    return results


def case_two_threads(rows, repeats, progress):
    """bench.py's two-thread process (case 4's) on this interpreter: median
    seconds of the two encodes one after the other and in two threads."""
    import cases

    progress.say(f"[two threads] two Python threads, each encoding its own DataFrame of {rows:,} rows, "
                 "RAYON_NUM_THREADS=1")
    times = cases._worker("--two-threads-worker", f"{rows}:{repeats}", dict(os.environ, RAYON_NUM_THREADS="1"))
    medians = {name: statistics.median(t) for name, t in times.items()}
    medians["rows"] = rows
    return medians


def report(pauses, scaling, quick):
    free_threaded = bool(sysconfig.get_config_var("Py_GIL_DISABLED")) and not sys._is_gil_enabled()
    lines = [f"# Threads{' (quick)' if quick else ''}", "",
             f"Python {platform.python_version()} {'free-threaded' if free_threaded else 'with the GIL'}, "
             f"{os.cpu_count()} CPUs, pool: RAYON_NUM_THREADS={os.environ.get('RAYON_NUM_THREADS', 'default')}",
             "", "## gc.collect() in another thread during an encode", "",
             "| cells | encode | collects during it | longest collect | collect, nothing else running | wait | target |",
             "|---|---|---|---|---|---|---|"]
    for p in pauses:
        wait = max(0.0, p["longest_wait"] - p["quiet_collect"])
        met = "met" if wait <= WAIT_TARGET else "MISSED"
        lines.append(f"| {p['rows']:,} x {p['columns']} | {measure.format_seconds(p['encode'])} | "
                     f"{p['collects']:g} | {measure.format_seconds(p['longest_wait'])} | "
                     f"{measure.format_seconds(p['quiet_collect'])} | {measure.format_seconds(wait)} | "
                     f"<= {WAIT_TARGET:g} s: {met} |")
    speedup = scaling["one after the other"] / scaling["two threads"]
    met = "met" if speedup >= SCALING_TARGET else "MISSED"
    lines += ["", f"## Two threads, each encoding its own {scaling['rows']:,}-row DataFrame, pool of one thread",
              "", "| one after the other | two threads | speed-up | target |", "|---|---|---|---|",
              f"| {measure.format_seconds(scaling['one after the other'])} | "
              f"{measure.format_seconds(scaling['two threads'])} | {speedup:.2f}x | "
              f">= {SCALING_TARGET:g}x: {met} |", ""]
    return "\n".join(lines)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="small sizes and 2 runs each")
    parser.add_argument("--repeats", type=int, help="runs per figure (default 5, quick 2)")
    parser.add_argument("--out", default=os.path.join(HERE, "results"), help="output directory")
    args = parser.parse_args(argv)
    sizes = QUICK if args.quick else FULL
    repeats = args.repeats or sizes["repeats"]
    progress = measure.Progress(sys.stderr)
    pauses = case_pause(sizes, repeats, progress)
    scaling = case_two_threads(sizes["two_threads_rows"], repeats, progress)
    text = report(pauses, scaling, args.quick)
    os.makedirs(args.out, exist_ok=True)
    path = os.path.join(args.out, "threads-quick.md" if args.quick else "threads.md")
    with open(path, "w") as out:
        out.write(text)
    print(text)
    print(f"written to {path}", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
