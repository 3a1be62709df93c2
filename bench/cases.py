"""The benchmark cases: each checks every peer against tarnix, then times it."""

import gc
import json
import os
import statistics
import subprocess
import sys

import data
import measure
import peers as peer_kinds


def _record(results, case, step, peer, rows, cells, times, note="", **extra):
    results.append({"case": case, "step": step, "peer": peer, "rows": rows, "cells": cells,
                    "times": times, "median": statistics.median(times), "note": note, **extra})


def run_table_case(case, table, text_positions, make_peers, repeats, progress, results, tag=None):
    """Encode and decode `table` with tarnix and every peer; each peer's
    output is checked against tarnix's before it is timed."""
    tag = tag or f"[case {case}]"
    layout = peer_kinds.Layout(table, text_positions)
    rows, cells = layout.rows, layout.rows * layout.width
    peers = make_peers(layout)
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
        if peer is not reference:
            measure.check_codes(f"{tag} {peer.name}", got, want_codes)
        decode_input = peer.decode_input(got) if peer.decodes else None
        del got
        if peer.decodes and peer is not reference:
            measure.check_labels(f"{tag} {peer.name}", peer.decode(decode_input),
                                 want_labels, layout.text)
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


def case_frame(case, rows, repeats, progress, results):
    storage, what, make_peers = FRAME_VARIANTS[case]
    progress.say(f"[case {case}] making a DataFrame of {rows:,} x {len(data.FRAME_COLUMNS)}, text as {what}")
    table = data.frame(rows, text=storage)
    run_table_case(case, table, frame_text_positions(), make_peers, repeats, progress, results)


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


def case_csv(rows, repeats, progress, results):
    progress.say(f"[case 5] writing a CSV of {rows:,} x {len(data.CSV_COLUMNS)} and reading it back")
    table = data.csv_frame(rows)
    text = [data.CSV_COLUMNS.index(name) for name in data.CSV_TEXT]
    run_table_case("5", table, text, peer_kinds.factorize_peers, repeats, progress, results)


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
            seconds, pool = done.stdout.split()
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
