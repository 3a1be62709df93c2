"""Timing (median of several runs) and the output checks that precede it."""

import gc
import statistics
import sys
import time

import numpy as np
import pandas as pd

# Labels that tarnix reads (and an array decode writes) as missing.
MISSING_LABELS = ("nan", "NaN", "<NA>")


class Mismatch(Exception):
    """A peer's output differs from tarnix's."""


class Progress:
    """One line per case and peer: rewritten in place on a terminal, one
    line per run otherwise (logs)."""

    def __init__(self, stream=sys.stdout):
        self.stream = stream
        self.tty = stream.isatty()

    def update(self, text, done):
        if self.tty:
            self.stream.write("\r\033[K" + text + ("\n" if done else ""))
        else:
            self.stream.write(text + "\n")
        self.stream.flush()

    def say(self, text):
        self.stream.write(text + "\n")
        self.stream.flush()


def timed(fn, repeats, label, progress):
    """Runs `fn` `repeats` times and returns the list of wall times (s);
    the result of a run is released outside its timing."""
    times = []
    for run in range(1, repeats + 1):
        gc.collect()
        start = time.perf_counter()
        result = fn()
        times.append(time.perf_counter() - start)
        del result
        median = statistics.median(times)
        progress.update(f"{label}: {run}/{repeats} runs, median so far {format_seconds(median)}",
                        run == repeats)
    return times


def format_seconds(seconds):
    if seconds >= 1:
        return f"{seconds:.2f} s"
    if seconds >= 1e-3:
        return f"{seconds * 1e3:.1f} ms"
    return f"{seconds * 1e6:.0f} µs"


def _columns(table):
    if isinstance(table, pd.DataFrame):
        return [table.iloc[:, j].to_numpy() for j in range(table.shape[1])]
    if isinstance(table, np.ndarray):
        return [table[:, j] for j in range(table.shape[1])]
    return list(table)


def _missing(labels):
    return pd.isna(labels) | pd.Series(labels, copy=False).isin(MISSING_LABELS).to_numpy()


def check_codes(name, got, want):
    got = got.to_numpy() if isinstance(got, pd.DataFrame) else got
    want = want.to_numpy() if isinstance(want, pd.DataFrame) else want
    if got.shape != want.shape or got.dtype != np.float64:
        raise Mismatch(f"{name}: encode gave {got.dtype} {got.shape}, tarnix {want.dtype} {want.shape}")
    if not np.array_equal(got, want, equal_nan=True):
        rows, cols = np.nonzero(~((got == want) | (np.isnan(got) & np.isnan(want))))
        i, j = rows[0], cols[0]
        raise Mismatch(f"{name}: encode differs from tarnix in {len(rows)} cells, "
                       f"first at [{i}, {j}]: {got[i, j]!r} vs {want[i, j]!r}")


def check_labels(name, got, want, text_positions):
    got_columns, want_columns = _columns(got), _columns(want)
    if len(got_columns) != len(want_columns):
        raise Mismatch(f"{name}: decode gave {len(got_columns)} columns, tarnix {len(want_columns)}")
    for j, (g, w) in enumerate(zip(got_columns, want_columns)):
        if len(g) != len(w):
            raise Mismatch(f"{name}: decode column {j} has {len(g)} rows, tarnix {len(w)}")
        if j not in text_positions:
            if not np.array_equal(np.asarray(g, dtype=np.float64), np.asarray(w, dtype=np.float64),
                                  equal_nan=True):
                raise Mismatch(f"{name}: decode of numeric column {j} differs from tarnix")
            continue
        g, w = np.asarray(g, dtype=object), np.asarray(w, dtype=object)
        g_missing, w_missing = _missing(g), _missing(w)
        differ = (g_missing != w_missing)
        present = ~(g_missing | w_missing)
        differ[present] = g[present] != w[present]
        if differ.any():
            i = np.flatnonzero(differ)[0]
            raise Mismatch(f"{name}: decode of column {j} differs from tarnix in "
                           f"{differ.sum()} rows, first at row {i}: {g[i]!r} vs {w[i]!r}")


def check_frame_text(name, frame, text_positions):
    """The text columns of a decoded frame are object columns of str, with
    None (and no other value) for missing."""
    for j in text_positions:
        column = frame.iloc[:, j]
        if column.dtype != object:
            raise Mismatch(f"{name}: text column {j} has dtype {column.dtype}, not object")
        values = column.to_numpy()
        missing = pd.isna(values)
        if pd.api.types.infer_dtype(values[~missing], skipna=False) not in ("string", "empty"):
            raise Mismatch(f"{name}: text column {j} holds cells that are not str")
        stray = [v for v in values[missing] if v is not None]
        if stray:
            raise Mismatch(f"{name}: text column {j} has {len(stray)} missing cells that are not None, "
                           f"first {stray[0]!r}")


def check_same_frame(name, got, want, text_positions):
    """`got` is the same DataFrame as tarnix's decoded `want`: values (None
    where tarnix has None), dtypes, column names and their index type, and
    the row index."""
    if not isinstance(got, pd.DataFrame):
        raise Mismatch(f"{name}: decode gave a {type(got).__name__}, tarnix a DataFrame")
    try:
        pd.testing.assert_frame_equal(got, want, check_exact=True, check_index_type=True,
                                      check_column_type=True, check_frame_type=True)
    except AssertionError as error:
        raise Mismatch(f"{name}: decoded frame differs from tarnix's: "
                       + " ".join(str(error).split())) from None
    if not got.index.equals(want.index) or type(got.index) is not type(want.index):
        raise Mismatch(f"{name}: index {got.index!r}, tarnix {want.index!r}")
    check_frame_text(name, got, text_positions)
