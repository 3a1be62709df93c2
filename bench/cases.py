"""The benchmark cases: each checks every peer against tarnix, then times it."""

import gc
import json
import os
import statistics
import subprocess
import sys
import time

import numpy as np
import pandas as pd

import data
import measure
import peers as peer_kinds


# The peers to run beside tarnix (--peers), or None for all of them.
ONLY_PEERS = None


def _record(results, case, step, peer, rows, cells, times, note="", **extra):
    results.append({"case": case, "step": step, "peer": peer, "rows": rows, "cells": cells,
                    "times": times, "median": statistics.median(times), "note": note, **extra})


def run_table_case(case, table, text_positions, make_peers, repeats, progress, results, tag=None):
    """Encode and decode `table` with tarnix and every peer; each peer's
    output is checked against tarnix's before it is timed."""
    tag = tag or f"[case {case}]"
    layout = peer_kinds.Layout(table, text_positions)
    rows, cells = layout.rows, layout.rows * layout.width
    peers = [peer for k, peer in enumerate(make_peers(layout))
             if k == 0 or ONLY_PEERS is None or peer.name in ONLY_PEERS]
    reference = peers[0]
    reference.prepare(table)
    want_codes = reference.encode(table)
    want_labels = reference.decode(reference.decode_input(want_codes)) if reference.decodes else None
    if reference.decodes:
        measure.check_labels(f"{tag} tarnix round trip", want_labels, table, layout.text)
        if layout.is_frame:
            measure.check_frame_text(f"{tag} tarnix decode", want_labels, layout.text)
    for peer in peers:
        peer.prepare(table)
        got = want_codes if peer is reference else peer.encode(table)
        if peer is not reference and peer.checked:
            measure.check_codes(f"{tag} {peer.name}", got, want_codes)
        decode_input = peer.decode_input(got) if peer.decodes else None
        del got
        if peer.decodes and peer is not reference:
            got = peer.decode(decode_input)
            measure.check_labels(f"{tag} {peer.name}", got, want_labels, layout.text)
            if peer.same_output:
                measure.check_same_frame(f"{tag} {peer.name}", got, want_labels, layout.text)
            del got
        if peer.times_encode:
            times = measure.timed(lambda: peer.encode(table), repeats,
                                  f"{tag} encode {peer.name}", progress)
            _record(results, case, "encode", peer.name, rows, cells, times, peer.note)
        if peer.decodes:
            times = measure.timed(lambda: peer.decode(decode_input), repeats,
                                  f"{tag} decode {peer.name}", progress)
            _record(results, case, "decode", peer.name, rows, cells, times, peer.note)
        del decode_input
        gc.collect()


def frame_text_positions():
    return [data.FRAME_COLUMNS.index(name) for name in data.TEXT_COLUMNS]


# Case 1 and its variants: the same cells, text columns stored as
# data.TEXT_DTYPES[storage]; the Arrow one adds polars reading its Arrow arrays.
FRAME_VARIANTS = {"1": ("python", "Python-backed str", peer_kinds.table_peers),
                  "1a": ("arrow", "Arrow-backed str", peer_kinds.arrow_table_peers),
                  "1c": ("category", "category", peer_kinds.table_peers)}


def _with_floors(make_peers):
    return lambda layout: make_peers(layout) + peer_kinds.floor_peers(layout)


def case_frame(case, rows, repeats, progress, results):
    storage, what, make_peers = FRAME_VARIANTS[case]
    progress.say(f"[case {case}] making a DataFrame of {rows:,} x {len(data.FRAME_COLUMNS)}, text as {what}")
    table = data.frame(rows, text=storage)
    run_table_case(case, table, frame_text_positions(), _with_floors(make_peers), repeats, progress, results)


def case_object_array(rows, repeats, progress, results):
    progress.say(f"[case 2] making an object array of {rows:,} x {len(data.TEXT_CARDINALITIES)}")
    table = data.object_array(rows)
    run_table_case("2", table, range(table.shape[1]), peer_kinds.table_peers,
                   repeats, progress, results)


def case_float(rows, repeats, progress, results):
    for order in ("C", "F"):
        progress.say(f"[case 3] making a float64 array of {rows:,} x 4, {order} order")
        table = data.float_array(rows, order)
        run_table_case(f"3{order}", table, [], peer_kinds.float_peers, repeats, progress, results,
                       tag=f"[case 3, {order} order]")
        del table
        gc.collect()


# Case 5 and its variants: the same CSV file, text columns read as
# data.CSV_TEXT_STORAGES[storage], or every column as read_csv's
# dtype_backend gives it (5a: "pyarrow", 5an: "numpy_nullable"; `--cases 5a`
# runs both).
CSV_VARIANTS = {"5": ("arrow", None, "Arrow-backed str (read_csv's default)"),
                "5p": ("python", None, "Python-backed str"), "5o": ("object", None, "object"),
                "5a": (None, "pyarrow", "every column ArrowDtype (dtype_backend=\"pyarrow\")"),
                "5an": (None, "numpy_nullable",
                        "every column a masked or string array (dtype_backend=\"numpy_nullable\")")}
# What each case of the command line runs.
CSV_CASES = {"5": ("5",), "5p": ("5p",), "5o": ("5o",), "5a": ("5a", "5an")}


def csv_text_positions():
    return [data.CSV_COLUMNS.index(name) for name in data.CSV_TEXT]


def csv_table(case, rows):
    storage, backend, _ = CSV_VARIANTS[case]
    return data.csv_frame(rows, text=storage, backend=backend)


def case_csv(case, rows, repeats, progress, results):
    what = CSV_VARIANTS[case][2]
    progress.say(f"[case {case}] writing a CSV of {rows:,} x {len(data.CSV_COLUMNS)} and reading it back, "
                 f"text as {what}")
    table = csv_table(case, rows)
    run_table_case(case, table, csv_text_positions(), peer_kinds.factorize_peers, repeats, progress, results)


# A case-7 process stops once the machine's available memory falls below
# this: the machine is shared, and a peer that does not fit is reported so.
SCALE_MEMORY_FLOOR = 3 << 29


def case_scale(rows, repeats, progress, results):
    """Case 7: tarnix and polars (`pl.from_arrow` + Enum cast) on a 10^8-row
    Arrow-backed frame, each in a fresh process that builds the frame (the
    machine holds the input and one output, not two of each). Time, peak
    RSS above the built input, and a digest of the codes per column, which
    must agree. A peer whose process ran out of memory is reported as not
    fitting, with its peak when it stopped."""
    found = {}
    for peer in ("tarnix", "polars from_arrow"):
        progress.say(f"[case 7] {peer}: a fresh process builds the {rows:,}-row frame and encodes it "
                     f"{repeats} times")
        found[peer] = _worker("--scale-worker", f"{peer}:{rows}:{repeats}")
    fitted = {peer: got for peer, got in found.items() if not got.get("did_not_fit")}
    if "tarnix" in fitted and "polars from_arrow" in fitted and \
            fitted["polars from_arrow"]["digests"] != fitted["tarnix"]["digests"]:
        raise measure.Mismatch("[case 7] polars from_arrow: the codes' digests differ from tarnix's")
    for peer, got in found.items():
        if got.get("did_not_fit"):
            progress.say(f"[case 7] {peer} did not fit: stopped while {got['stage']} with "
                         f"{got['peak'] / 2**30:.2f} GiB above the input")
            results.append({"case": "7", "step": "encode", "peer": peer, "rows": rows,
                            "cells": rows * len(data.FRAME_COLUMNS), "times": got["times"], "median": None,
                            "note": "", **got})
            continue
        _record(results, "7", "encode", peer, rows, rows * len(data.FRAME_COLUMNS), got["times"],
                peak=got["peak"], input=got["input"], output=got["output"], build=got["build"], cpu=got["cpu"],
                load=got["load"])


def _mem_available():
    with open("/proc/meminfo") as meminfo:
        for line in meminfo:
            if line.startswith("MemAvailable:"):
                return int(line.split()[1]) * 1024
    return sys.maxsize


def _stop_before_memory_runs_out(report):
    """Makes this process the kernel's first choice when memory runs out,
    and ends it, its last stdout line the JSON of `report()`, once the
    machine's available memory falls below SCALE_MEMORY_FLOOR."""
    import threading

    try:
        with open("/proc/self/oom_score_adj", "w") as adjust:
            adjust.write("1000")
    except OSError:
        pass

    def watch():
        while _mem_available() >= SCALE_MEMORY_FLOOR:
            time.sleep(0.02)
        print(json.dumps(report()), flush=True)
        os._exit(0)

    threading.Thread(target=watch, daemon=True).start()


def scale_worker(peer_name, rows, repeats):
    """Body of a case-7 process: build, encode `repeats` times, one JSON line."""
    import hashlib

    progress = measure.Progress(sys.stderr)
    before = _rss_status()["VmRSS"]
    state = {"stage": "building the frame", "start": before, "times": [], "cpu": [], "build": None}
    _stop_before_memory_runs_out(lambda: {
        "did_not_fit": True, "stage": state["stage"], "times": state["times"], "cpu": state["cpu"],
        "peak": _rss_status()["VmHWM"] - state["start"], "input": state["start"] - before,
        "build": state["build"], "load": os.getloadavg()[0]})
    began = time.perf_counter()
    table = data.scale_frame(rows, progress=lambda text: progress.say(f"[case 7] building: {text}"))
    build = state["build"] = time.perf_counter() - began
    gc.collect()
    layout = peer_kinds.Layout(table, frame_text_positions())
    peer = (peer_kinds.Tarnix(layout) if peer_name == "tarnix"
            else peer_kinds.Polars(layout, from_arrow=True))
    peer.prepare(table)
    _reset_peak()
    start = state["start"] = _rss_status()["VmRSS"]
    times, cpu = state["times"], state["cpu"]
    digests = None
    for run in range(1, repeats + 1):
        gc.collect()
        state["stage"] = f"encoding (run {run})"
        began, began_cpu = time.perf_counter(), time.process_time()
        codes = peer.encode(table)
        times.append(time.perf_counter() - began)
        cpu.append(time.process_time() - began_cpu)
        if digests is None:
            state["stage"] = "digesting the codes"
            # A stretch of a column at a time: a copy of a whole column would count in the peak.
            matrix = codes.to_numpy() if isinstance(codes, pd.DataFrame) else codes
            digests = []
            for j in range(matrix.shape[1]):
                digest = hashlib.blake2b(digest_size=16)
                for first in range(0, matrix.shape[0], 1 << 20):
                    digest.update(np.nan_to_num(matrix[first:first + (1 << 20), j], nan=-1.0).tobytes())
                digests.append(digest.hexdigest())
            del matrix
        output = _output_bytes(codes)
        del codes
        progress.say(f"[case 7] encode {peer_name}: {run}/{repeats} runs, "
                     f"median so far {measure.format_seconds(statistics.median(times))} "
                     f"(CPU {measure.format_seconds(statistics.median(cpu))}, load {os.getloadavg()[0]:.1f}), "
                     f"peak so far {(_rss_status()['VmHWM'] - start) / 2**30:.2f} GiB above the input")
    peak = _rss_status()["VmHWM"] - start
    print(json.dumps({"times": times, "cpu": cpu, "peak": peak, "input": start - before, "output": output,
                      "build": build, "digests": digests, "load": os.getloadavg()[0]}), flush=True)


def case_growth(sizes, repeats_for, progress, results):
    """tarnix alone on case 1's frame at several sizes; each size's decode
    must give back the input's labels."""
    text = frame_text_positions()
    for rows in sizes:
        progress.say(f"[case 4] making a DataFrame of {rows:,} x {len(data.FRAME_COLUMNS)}")
        table = data.frame(rows)
        peer = peer_kinds.Tarnix(peer_kinds.Layout(table, text))
        encoded = peer.encode(table)
        measure.check_labels(f"[case 4] tarnix round trip at {rows:,} rows",
                             peer.decode(encoded), table, text)
        repeats = repeats_for(rows)
        cells = rows * table.shape[1]
        for step, fn in (("encode", lambda: peer.encode(table)), ("decode", lambda: peer.decode(encoded))):
            times = measure.timed(fn, repeats, f"[case 4] {step} tarnix, {rows:,} rows", progress)
            _record(results, "4", step, "tarnix", rows, cells, times)
        del table, encoded, peer
        gc.collect()


def case_threads(rows, thread_counts, repeats, progress, results):
    """Case 1 with tarnix only, in a fresh process per pool size (the pool
    reads RAYON_NUM_THREADS once per process)."""
    for threads in thread_counts:
        env = dict(os.environ, RAYON_NUM_THREADS=str(threads))
        command = [sys.executable, os.path.join(os.path.dirname(__file__), "bench.py"),
                   "--threads-worker", str(rows), "--repeats", str(repeats)]
        done = subprocess.run(command, env=env, stdout=subprocess.PIPE, text=True, check=True)
        times = json.loads(done.stdout.strip().splitlines()[-1])
        for step in ("encode", "decode"):
            _record(results, "threads", step, f"tarnix, {threads} thread{'s' if threads > 1 else ''}",
                    rows, rows * len(data.FRAME_COLUMNS), times[step])


def case_column_stage(binary, rows, rounds, repeats, thread_counts, progress, results):
    """The column stage alone, timed by the native bench: one process per
    run, pool sizes alternating round by round so that a drift of the
    machine hits every pool size alike. Each process prints the median of
    its `repeats` runs; the result per pool size is the median over rounds."""
    medians = {threads: [] for threads in thread_counts}
    for round_ in range(1, rounds + 1):
        for threads in thread_counts:
            env = dict(os.environ, RAYON_NUM_THREADS=str(threads))
            done = subprocess.run([binary, str(rows), str(repeats)], env=env, stdout=subprocess.PIPE,
                                  text=True, check=True)
            seconds, pool = done.stdout.split()[:2]
            if int(pool) != threads:
                raise RuntimeError(f"{binary} ran on {pool} threads with RAYON_NUM_THREADS={threads}")
            medians[threads].append(float(seconds))
            progress.say(f"[case 4] column stage, RAYON_NUM_THREADS={threads}, round {round_}/{rounds}: "
                         f"median of {repeats} runs {measure.format_seconds(float(seconds))}")
    for threads in thread_counts:
        _record(results, "column stage", "encode", f"tarnix, {threads} thread{'s' if threads > 1 else ''}",
                rows, rows * len(data.FRAME_COLUMNS), medians[threads], runs_per_process=repeats)


def threads_worker(rows, repeats):
    """Body of the per-pool-size process: progress on stderr, the times as
    one JSON line on stdout."""
    threads = os.environ.get("RAYON_NUM_THREADS", "?")
    progress = measure.Progress(sys.stderr)
    table = data.frame(rows)
    peer = peer_kinds.Tarnix(peer_kinds.Layout(table, frame_text_positions()))
    encoded = peer.encode(table)
    peer.decode(encoded)
    times = {}
    for step, fn in (("encode", lambda: peer.encode(table)), ("decode", lambda: peer.decode(encoded))):
        times[step] = measure.timed(fn, repeats, f"[threads] {step} tarnix, RAYON_NUM_THREADS={threads}",
                                    progress)
    print(json.dumps(times), flush=True)


def make_table(case, rows):
    """The input table of a case (as its case function makes it) and the
    positions of its text columns."""
    if case in FRAME_VARIANTS:
        return data.frame(rows, text=FRAME_VARIANTS[case][0]), frame_text_positions()
    if case == "2":
        return data.object_array(rows), list(range(len(data.TEXT_CARDINALITIES)))
    if case in ("3C", "3F"):
        return data.float_array(rows, case[1]), []
    if case in CSV_VARIANTS:
        return csv_table(case, rows), csv_text_positions()
    raise ValueError(f"no table for case {case!r}")


def _worker(flag, argument, env=None):
    """Runs bench.py `flag argument` in a fresh process (progress on its
    stderr) and returns the JSON of its last stdout line."""
    command = [sys.executable, os.path.join(os.path.dirname(__file__), "bench.py"), flag, argument]
    done = subprocess.run(command, env=env, stdout=subprocess.PIPE, text=True, check=True)
    return json.loads(done.stdout.strip().splitlines()[-1])


def case_memory(case_rows, progress, results):
    """Memory of one tarnix encode per case, each in a fresh process
    (memory_worker); `case_rows` is a list of (case, rows)."""
    for case, rows in case_rows:
        progress.say(f"[memory] case {case}, {rows:,} rows: one encode in a fresh process")
        found = _worker("--memory-worker", f"{case}:{rows}")
        progress.say(f"[memory] case {case}: peak {found['peak'] / 2**20:.0f} MiB above the input for an "
                     f"output of {found['output'] / 2**20:.0f} MiB; record "
                     + (f"{found['retained'] / found['labels']:.0f} B per distinct label ({found['method']})"
                        if found["labels"] else "holds no labels"))
        results.append({"case": "memory", "step": "encode", "peer": "tarnix", "rows": rows,
                        "cells": found["cells"], "times": [], "median": None, "note": "",
                        "of_case": case, **found})


def _rss_status():
    """VmRSS and VmHWM of this process in bytes."""
    fields = {}
    with open("/proc/self/status") as status:
        for line in status:
            key, _, value = line.partition(":")
            if key in ("VmRSS", "VmHWM"):
                fields[key] = int(value.split()[0]) * 1024
    return fields


class _Heap:
    """Bytes in use by malloc (glibc's mallinfo2: uordblks + hblkhd, the
    mmapped chunks included), or the resident set size where mallinfo2 is
    missing. `trim()` gives freed heap memory back to the system."""

    def __init__(self):
        import ctypes

        class MallInfo2(ctypes.Structure):
            _fields_ = [(name, ctypes.c_size_t) for name in (
                "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks",
                "fordblks", "keepcost")]

        try:
            self.libc = ctypes.CDLL("libc.so.6")
        except OSError:
            self.libc = None
        self.mallinfo2 = getattr(self.libc, "mallinfo2", None)
        if self.mallinfo2 is not None:
            self.mallinfo2.restype = MallInfo2
        self.method = "mallinfo2" if self.mallinfo2 is not None else "RSS"

    def trim(self):
        gc.collect()
        if self.libc is not None and hasattr(self.libc, "malloc_trim"):
            self.libc.malloc_trim(0)

    def in_use(self):
        """Trims the heap only where the RSS stands in for mallinfo2: a
        measure of what the module gives back by itself must not be
        preceded by a trim of ours."""
        if self.mallinfo2 is not None:
            gc.collect()
            info = self.mallinfo2()
            return info.uordblks + info.hblkhd
        self.trim()
        return _rss_status()["VmRSS"]


def _reset_peak():
    """Sets VmHWM back to the current RSS; False where the kernel refuses."""
    try:
        with open("/proc/self/clear_refs", "w") as clear:
            clear.write("5")
        return True
    except OSError:
        return False


def _output_bytes(output):
    if isinstance(output, pd.DataFrame):
        return int(output.memory_usage(index=False, deep=False).sum())
    return output.nbytes


def memory_worker(case, rows):
    """Body of the per-case memory process. Peak: the RSS high-water mark
    of one encode above the RSS before it, the input built, a small encode
    run first (imports, pool) and freed heap given back. Record: bytes in
    use after an encode whose output was dropped, against the same Encoder
    before it encoded, over the table's distinct labels. Prints one JSON
    line."""
    import tarnix

    progress = measure.Progress(sys.stderr)
    heap = _Heap()
    table, text = make_table(case, rows)
    frame = isinstance(table, pd.DataFrame)
    labels = sum(int(pd.Series(table.iloc[:, j] if frame else table[:, j]).nunique(dropna=True))
                 for j in text)
    label_bytes = max((len(v.encode()) for j in text for v in
                       pd.unique(np.asarray(table.iloc[:, j] if frame else table[:, j], dtype=object))
                       if isinstance(v, str)), default=0)
    tarnix.Encoder().encode(table[:1000])
    heap.trim()
    encoder = tarnix.Encoder()
    before_record = heap.in_use()
    exact_peak = _reset_peak()
    before = _rss_status()
    output = encoder.encode(table)
    peak = _rss_status()["VmHWM"] - before["VmRSS"]
    output_bytes = _output_bytes(output)
    del output
    retained = heap.in_use() - before_record
    del encoder
    left = heap.in_use() - before_record
    gc.collect()
    # What the process keeps once the output and the encoder are dropped,
    # with no trim of the heap by this process.
    rss_after = _rss_status()["VmRSS"]
    print(json.dumps({"peak": peak, "peak_exact": exact_peak, "output": output_bytes, "labels": labels,
                      "label_bytes": label_bytes, "retained": retained, "left": left,
                      "rss_before": before["VmRSS"], "rss_after": rss_after,
                      "method": heap.method, "cells": int(np.prod(table.shape))}), flush=True)


def case_two_threads(rows, repeats, progress, results):
    """Two Python threads each encoding its own table against the same two
    encodes one after the other, in a fresh process with a pool of one thread."""
    progress.say(f"[case 4] two Python threads, each encoding its own DataFrame of {rows:,} rows, "
                 "RAYON_NUM_THREADS=1")
    env = dict(os.environ, RAYON_NUM_THREADS="1")
    times = _worker("--two-threads-worker", f"{rows}:{repeats}", env)
    for step in ("one after the other", "two threads"):
        _record(results, "two threads", step, "tarnix, 1 pool thread", rows,
                2 * rows * len(data.FRAME_COLUMNS), times[step])


def two_threads_worker(rows, repeats):
    """Body of the two-thread process: each run times the two encodes one
    after the other, then the two at once in two threads (started
    together), alternating. The codes of both ways must agree."""
    import threading

    import tarnix

    progress = measure.Progress(sys.stderr)
    tables = [data.frame(rows, seed=seed) for seed in (1, 11)]
    want = [tarnix.Encoder().encode(table) for table in tables]

    def sequential():
        return [tarnix.Encoder().encode(table) for table in tables]

    def concurrent():
        out = [None, None]
        start = threading.Barrier(3)

        def encode(k):
            encoder = tarnix.Encoder()
            start.wait()
            out[k] = encoder.encode(tables[k])

        threads = [threading.Thread(target=encode, args=(k,)) for k in range(2)]
        for thread in threads:
            thread.start()
        start.wait()
        for thread in threads:
            thread.join()
        return out

    for name, fn in (("one after the other", sequential), ("two threads", concurrent)):
        for k, got in enumerate(fn()):
            measure.check_codes(f"[two threads] {name}, table {k + 1}", got, want[k])
    del want
    times = {"one after the other": [], "two threads": []}
    for run in range(1, repeats + 1):
        for name, fn in (("one after the other", sequential), ("two threads", concurrent)):
            gc.collect()
            began = time.perf_counter()
            result = fn()
            times[name].append(time.perf_counter() - began)
            del result
        medians = ", ".join(f"{name} {measure.format_seconds(statistics.median(t))}" for name, t in times.items())
        progress.update(f"[two threads] {run}/{repeats} runs, medians so far: {medians}", run == repeats)
    print(json.dumps(times), flush=True)


def case_learn(quick, repeats, max_rows, progress, results):
    """tarnix_learn.TextColumnEncoder against scikit-learn's OrdinalEncoder
    (bench/learn.py)."""
    import learn

    results += learn.run(quick, repeats, progress, max_rows=max_rows)
