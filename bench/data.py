"""Input tables of the benchmark, made from a fixed seed.

Labels are ASCII ("b0001234"), so Python's str order, NumPy's sort and every
peer's sort agree with tarnix's byte order.
"""

import numpy as np
import pandas as pd

# pandas' "str" dtype kept on Python storage whatever else is installed, so
# every peer sees the same frame.
TEXT_DTYPE = pd.StringDtype(storage="python", na_value=np.nan)

TEXT_CARDINALITIES = (10, 1_000, 100_000, 1_000_000)
MISSING_SHARE = 0.01

# Column order of the frame: text and numeric columns interleaved, so a peer
# that puts a column back in the wrong place fails the check.
FRAME_COLUMNS = ("t10", "f0", "t1k", "i0", "t100k", "f1", "t1m", "i1")
TEXT_COLUMNS = ("t10", "t1k", "t100k", "t1m")


def _rng(seed):
    return np.random.default_rng(seed)


def text_column(rng, rows, cardinality, prefix, missing_share=0.0):
    """An object array of `rows` labels with exactly min(cardinality, rows)
    distinct values in random order; a share of the cells is missing, half
    of them None and half NaN."""
    distinct = min(cardinality, rows)
    vocabulary = np.array([f"{prefix}{i:07d}" for i in range(distinct)], dtype=object)
    column = vocabulary[rng.permutation(rows) % distinct]
    if missing_share:
        missing = np.flatnonzero(rng.random(rows) < missing_share)
        half = len(missing) // 2
        column[missing[:half]] = None
        column[missing[half:]] = np.nan
    return column


def frame(rows, seed=1):
    """Case 1: 4 text columns (cardinality 10 .. 10^6, ~1% missing), 2 float64
    columns (one with ~1% NaN) and 2 int64 columns."""
    rng = _rng(seed)
    columns = {}
    for name, cardinality, prefix in zip(TEXT_COLUMNS, TEXT_CARDINALITIES, "abcd"):
        raw = text_column(rng, rows, cardinality, prefix, MISSING_SHARE)
        columns[name] = pd.array(raw, dtype=TEXT_DTYPE)
    f0 = rng.standard_normal(rows)
    f0[rng.random(rows) < MISSING_SHARE] = np.nan
    columns["f0"] = f0
    columns["f1"] = rng.uniform(-1e6, 1e6, rows)
    columns["i0"] = rng.integers(0, 1_000, rows, dtype=np.int64)
    columns["i1"] = rng.integers(-(2**40), 2**40, rows, dtype=np.int64)
    return pd.DataFrame({name: columns[name] for name in FRAME_COLUMNS})


def object_array(rows, seed=2):
    """Case 2: an object array of text cells only, one column per cardinality."""
    rng = _rng(seed)
    array = np.empty((rows, len(TEXT_CARDINALITIES)), dtype=object)
    for j, (cardinality, prefix) in enumerate(zip(TEXT_CARDINALITIES, "abcd")):
        array[:, j] = text_column(rng, rows, cardinality, prefix)
    return array


def float_array(rows, order, seed=3):
    """Case 3: a float64 array of `rows` x 4 in C or Fortran order."""
    array = _rng(seed).standard_normal((rows, 4))
    return array if order == "C" else np.asfortranarray(array)
