"""Benchmark of tarnix against scikit-learn, pandas, category_encoders,
polars and a plain NumPy copy. Run it through bench/run.sh.

Cases: 1 DataFrame with Python-backed str text columns (encode, decode),
1a the same cells with Arrow-backed str text columns, 1c with category text
columns, 2 object array (encode, decode), 3 float64 array (C and Fortran
order), 4 growth over row counts, pool sizes 1 and 2 (whole calls, and the
column stage alone through the native bench/native/column_stage.cpp, which
bench/run.sh builds into build/bench) and two Python threads encoding at
once, 5 a real-shaped table read back from a CSV file against a
pandas.factorize loop, its text columns Arrow-backed str (read_csv's
default), 5p Python-backed str, 5o object, 5a every column as read_csv's
dtype_backend "pyarrow" and "numpy_nullable" make it, 6 tarnix_learn's
TextColumnEncoder against scikit-learn's OrdinalEncoder (bench/learn.py).
Then the memory of one encode per case, each in a fresh process. Case 7, run
only when named (--cases 7), encodes a 10^8-row Arrow-backed frame with
tarnix and polars, each in a fresh process.
Writes results.md and results.png into bench/results/.
"""

import argparse
import os
import platform
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
COLUMN_STAGE_BENCH = os.path.join(HERE, "..", "build", "bench", "column_stage_bench")
sys.path.insert(0, HERE)

import cases  # noqa: E402
import measure  # noqa: E402

SCALE_ROWS, SCALE_REPEATS = 10**8, 3
FULL = {"frame_rows": 1_000_000, "array_rows": 1_000_000, "float_rows": 10_000_000,
        "growth": [10**4, 10**5, 10**6, 10**7], "csv_rows": 1_414_593, "two_threads_rows": 500_000,
        "repeats": 5, "column_stage_rounds": 5, "scale_rows": SCALE_ROWS}
QUICK = {"frame_rows": 20_000, "array_rows": 20_000, "float_rows": 200_000,
         "growth": [10**3, 10**4, 10**5], "csv_rows": 28_000, "two_threads_rows": 20_000, "repeats": 2,
         "column_stage_rounds": 2, "scale_rows": 200_000}
# Tables this large get at most this many runs per timing.
BIG_ROWS, BIG_REPEATS = 5_000_000, 3
ALL_CASES = ("1", "1a", "1c", "2", "3", "4", "5", "5p", "5o", "5a", "6")
# Run only when asked for by --cases: the 10^8-row scale case.
ASKED_ONLY = ("7",)


def parse_args(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true",
                        help="small sizes and 2 runs each: a smoke run of well under a minute")
    parser.add_argument("--cases", default=",".join(ALL_CASES),
                        help=f"comma-separated cases to run (default: all of {','.join(ALL_CASES)}): "
                             "1 DataFrame with Python-backed str text, 1a the same with Arrow-backed "
                             "str text, 1c with category text, 2 object array, 3 float64 array, "
                             "4 growth and threads, 5 real-shaped table read from a CSV file "
                             "(Arrow-backed str text), 5p the same with Python-backed str text, "
                             "5o with object text, 5a the same file with dtype_backend \"pyarrow\" and "
                             "\"numpy_nullable\", 6 fit once, transform later (bench/learn.py); "
                             "7, only when named, the 10^8-row Arrow-backed frame against polars")
    parser.add_argument("--repeats", type=int, help="runs per timing (default 5, quick 2)")
    parser.add_argument("--max-rows", type=int,
                        help="cap the row count of every case; growth sizes above it are skipped")
    parser.add_argument("--no-memory", action="store_true",
                        help="skip the memory of an encode per case (one fresh process per case)")
    parser.add_argument("--out", help="output directory (default bench/results)")
    parser.add_argument("--peers", help="comma-separated peers to run beside tarnix (default: all), "
                                        "such as pandas,polars")
    parser.add_argument("--threads-worker", type=int, metavar="ROWS", help=argparse.SUPPRESS)
    parser.add_argument("--memory-worker", metavar="CASE:ROWS", help=argparse.SUPPRESS)
    parser.add_argument("--two-threads-worker", metavar="ROWS:REPEATS", help=argparse.SUPPRESS)
    parser.add_argument("--scale-worker", metavar="PEER:ROWS:REPEATS", help=argparse.SUPPRESS)
    args = parser.parse_args(argv)
    chosen = {c.strip() for c in args.cases.split(",") if c.strip()}
    if not chosen <= set(ALL_CASES + ASKED_ONLY):
        parser.error(f"--cases takes cases from {','.join(ALL_CASES + ASKED_ONLY)}")
    args.cases = [c for c in ALL_CASES + ASKED_ONLY if c in chosen]
    if args.repeats is not None and args.repeats < 1:
        parser.error("--repeats must be at least 1")
    return args


def environment():
    def version(module):
        try:
            return __import__(module).__version__
        except Exception:  # noqa: BLE001 - a missing peer is reported, not fatal here
            return "missing"

    def git(*command):
        try:
            return subprocess.run(["git", "-C", HERE, *command], capture_output=True, text=True,
                                  check=True).stdout.strip()
        except (OSError, subprocess.CalledProcessError):
            return ""

    cpu = ""
    try:
        with open("/proc/cpuinfo") as info:
            cpu = next((line.split(":", 1)[1].strip() for line in info if line.startswith("model name")), "")
    except OSError:
        pass
    dirty = git("status", "--porcelain", "--", "src", "CMakeLists.txt")
    return {
        "date": time.strftime("%Y-%m-%d %H:%M"),
        "machine": f"{os.cpu_count()} CPUs ({cpu or platform.machine()})",
        "python": platform.python_version(),
        "commit": (git("rev-parse", "--short", "HEAD") or "?") + (" with local changes in src/" if dirty else ""),
        "versions": {name: version(module) for name, module in (
            ("numpy", "numpy"), ("pandas", "pandas"), ("scikit-learn", "sklearn"),
            ("category_encoders", "category_encoders"), ("polars", "polars"), ("pyarrow", "pyarrow"))},
        "threads": os.environ.get("RAYON_NUM_THREADS", "default"),
    }


def main(argv):
    args = parse_args(argv)
    if args.threads_worker:
        cases.threads_worker(args.threads_worker, args.repeats or FULL["repeats"])
        return 0
    if args.memory_worker:
        case, rows = args.memory_worker.split(":")
        cases.memory_worker(case, int(rows))
        return 0
    if args.two_threads_worker:
        rows, repeats = args.two_threads_worker.split(":")
        cases.two_threads_worker(int(rows), int(repeats))
        return 0
    if args.scale_worker:
        peer, rows, repeats = args.scale_worker.rsplit(":", 2)
        cases.scale_worker(peer, int(rows), int(repeats))
        return 0
    if args.peers:
        cases.ONLY_PEERS = {name.strip() for name in args.peers.split(",")}
    sizes = QUICK if args.quick else FULL
    repeats = args.repeats or sizes["repeats"]
    cap = args.max_rows or sys.maxsize

    def repeats_for(rows):
        return min(repeats, BIG_REPEATS) if rows >= BIG_ROWS else repeats

    import report

    out_dir = args.out or os.path.join(HERE, "results")
    progress = measure.Progress()
    results, skipped, memory_cases = [], [], []
    load_at_start = os.getloadavg()[0]
    setting = environment()
    started = time.perf_counter()
    try:
        for case in ("1", "1a", "1c"):
            if case in args.cases:
                rows = min(sizes["frame_rows"], cap)
                cases.case_frame(case, rows, repeats_for(rows), progress, results)
                memory_cases.append((case, rows))
        if "2" in args.cases:
            rows = min(sizes["array_rows"], cap)
            cases.case_object_array(rows, repeats_for(rows), progress, results)
            memory_cases.append(("2", rows))
        if "3" in args.cases:
            rows = min(sizes["float_rows"], cap)
            cases.case_float(rows, repeats, progress, results)
            memory_cases += [("3C", rows), ("3F", rows)]
        if "4" in args.cases:
            growth = [rows for rows in sizes["growth"] if rows <= cap]
            skipped += [f"case 4 growth at {rows:,} rows (above --max-rows)"
                        for rows in sizes["growth"] if rows > cap]
            cases.case_growth(growth, repeats_for, progress, results)
            rows = min(sizes["frame_rows"], cap)
            cases.case_threads(rows, (1, 2), repeats_for(rows), progress, results)
            if os.access(COLUMN_STAGE_BENCH, os.X_OK):
                cases.case_column_stage(COLUMN_STAGE_BENCH, rows, sizes["column_stage_rounds"],
                                        repeats_for(rows), (1, 2), progress, results)
            else:
                skipped.append("case 4 column stage (build/bench/column_stage_bench is not built; "
                               "bench/run.sh builds it)")
            rows = min(sizes["two_threads_rows"], cap)
            cases.case_two_threads(rows, repeats_for(rows), progress, results)
        for case in ("5", "5p", "5o", "5a"):
            if case in args.cases:
                rows = min(sizes["csv_rows"], cap)
                for variant in cases.CSV_CASES[case]:
                    cases.case_csv(variant, rows, repeats_for(rows), progress, results)
                    memory_cases.append((variant, rows))
        if "6" in args.cases:
            cases.case_learn(args.quick, args.repeats, args.max_rows, progress, results)
        if "7" in args.cases:
            rows = min(sizes["scale_rows"], cap)
            cases.case_scale(rows, min(repeats, SCALE_REPEATS), progress, results)
        if args.no_memory:
            skipped += [f"memory of case {case} (--no-memory)" for case, _ in memory_cases]
        else:
            cases.case_memory(memory_cases, progress, results)
    except measure.Mismatch as mismatch:
        progress.say(f"MISMATCH, benchmark stopped: {mismatch}")
        return 1
    elapsed = time.perf_counter() - started
    run = {"environment": setting, "quick": args.quick, "repeats": repeats,
           "command": " ".join(["bench/run.sh", *argv]), "elapsed": elapsed, "skipped": skipped,
           "load": (load_at_start, os.getloadavg()[0])}
    paths = report.write(out_dir, "quick" if args.quick else "results", results, run)
    progress.say(f"done in {elapsed / 60:.1f} min: " + ", ".join(paths))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
