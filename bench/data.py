"""Input tables of the benchmark, made from a fixed seed.

Labels are ASCII ("b0001234"), so Python's str order, NumPy's sort and every
peer's sort agree with tarnix's byte order.
"""

import os
import tempfile

import numpy as np
import pandas as pd

# Case 1's text columns: pandas' "str" dtype on Python storage, which is what
# that dtype is without pyarrow. pyarrow is installed in the venv (it makes
# "str" Arrow-backed by default), so the storage is named explicitly.
TEXT_DTYPE = pd.StringDtype(storage="python", na_value=np.nan)
# The text columns of case 1's variants: 1a "str" on pyarrow storage, 1c
# "category" (its categories get the default "str" dtype).
TEXT_DTYPES = {"python": TEXT_DTYPE, "arrow": pd.StringDtype(storage="pyarrow", na_value=np.nan),
               "category": "category"}

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


def frame(rows, seed=1, text="python"):
    """Case 1: 4 text columns (cardinality 10 .. 10^6, ~1% missing), 2 float64
    columns (one with ~1% NaN) and 2 int64 columns. `text` is the storage of
    the text columns (a key of TEXT_DTYPES); the cells are the same for all."""
    rng = _rng(seed)
    columns = {}
    for name, cardinality, prefix in zip(TEXT_COLUMNS, TEXT_CARDINALITIES, "abcd"):
        raw = text_column(rng, rows, cardinality, prefix, MISSING_SHARE)
        columns[name] = pd.array(raw, dtype=TEXT_DTYPES[text])
    f0 = rng.standard_normal(rows)
    f0[rng.random(rows) < MISSING_SHARE] = np.nan
    columns["f0"] = f0
    columns["f1"] = rng.uniform(-1e6, 1e6, rows)
    columns["i0"] = rng.integers(0, 1_000, rows, dtype=np.int64)
    columns["i1"] = rng.integers(-(2**40), 2**40, rows, dtype=np.int64)
    return pd.DataFrame({name: columns[name] for name in FRAME_COLUMNS})


# Case 5, shaped like a real table: low-cardinality text columns (label ->
# weight) between numeric ones, a few text cells missing.
CSV_TEXT = {
    "sex": {"female": 0.52, "male": 0.48},
    "plan": {"basic": 0.6, "plus": 0.3, "premium": 0.1},
    "region": {"central": 0.1, "east": 0.25, "north": 0.2, "south": 0.3, "west": 0.15},
    "weekday": {"Mon": 0.16, "Tue": 0.16, "Wed": 0.16, "Thu": 0.16, "Fri": 0.16, "Sat": 0.1, "Sun": 0.1},
}
CSV_COLUMNS = ("sex", "age", "plan", "bmi", "region", "charges", "weekday")
CSV_MISSING_SHARE = 0.001


# How case 5's variants read the CSV's text columns: the dtype that read_csv
# gives them by default (pandas' "str", Arrow storage with pyarrow
# installed), "str" on Python storage, and object.
CSV_TEXT_STORAGES = {"arrow": TEXT_DTYPES["arrow"], "python": TEXT_DTYPE, "object": np.dtype(object)}


# Case 5a: the same file read with read_csv's `dtype_backend`: every column
# Arrow-backed ("pyarrow": ArrowDtype) or pandas' masked and string arrays
# ("numpy_nullable").
CSV_BACKENDS = ("pyarrow", "numpy_nullable")


def csv_frame(rows, seed=4, text="arrow", backend=None):
    """Case 5: CSV_COLUMNS written to a CSV file in a temporary directory and
    read back with pandas.read_csv. `text` (a key of CSV_TEXT_STORAGES) is
    how the text columns are read: "arrow" is read_csv's default, the others
    are asked for with its `dtype` argument. With `backend` (one of
    CSV_BACKENDS) read_csv's `dtype_backend` decides every column's dtype
    instead. The cells are the same for all."""
    rng = _rng(seed)
    columns = {}
    for name, weights in CSV_TEXT.items():
        column = rng.choice(np.array(list(weights), dtype=object), rows, p=list(weights.values()))
        column[rng.random(rows) < CSV_MISSING_SHARE] = None
        columns[name] = column
    columns["age"] = rng.integers(18, 90, rows)
    columns["bmi"] = np.round(rng.normal(27, 5, rows), 1)
    columns["charges"] = np.round(rng.lognormal(9, 1, rows), 2)
    want = CSV_TEXT_STORAGES.get(text)
    dtype = None if text in ("arrow", None) else {name: want for name in CSV_TEXT}
    with tempfile.TemporaryDirectory() as directory:
        path = os.path.join(directory, "table.csv")
        pd.DataFrame({name: columns[name] for name in CSV_COLUMNS}).to_csv(path, index=False)
        if backend is not None:
            return pd.read_csv(path, dtype_backend=backend)
        table = pd.read_csv(path, dtype=dtype)
    for name in CSV_TEXT:
        if table[name].dtype != want:
            raise RuntimeError(f"read_csv gave column {name} the dtype {table[name].dtype!r}, "
                               f"not {want!r}" + (" (is pyarrow installed?)" if text == "arrow" else ""))
    return table


# Case 7, the scale case: case 1's shape at 10^8 rows, Arrow-backed text of
# about 10, 1,000, 100,000 and 10,000,000 labels.
SCALE_CARDINALITIES = (10, 1_000, 100_000, 10_000_000)


def _arrow_labels(count, prefix):
    """`count` distinct labels `prefix` + 8 digits, as a pyarrow string array."""
    import pyarrow as pa
    import pyarrow.compute as pc

    digits = pc.utf8_lpad(pc.cast(pa.array(np.arange(count, dtype=np.int64)), pa.string()), 8, "0")
    return pc.binary_join_element_wise(pa.scalar(prefix), digits, "")


def scale_frame(rows, seed=7, progress=None):
    """Case 7: 4 text columns of pandas' `str` on pyarrow storage (labels
    drawn uniformly from SCALE_CARDINALITIES values, ~1% missing), made from
    dictionary indices so that building them is quick, and 2 float64 and 2
    int64 columns, interleaved as case 1's."""
    import pyarrow as pa

    rng = _rng(seed)
    columns = {}
    for name, cardinality, prefix in zip(TEXT_COLUMNS, SCALE_CARDINALITIES, "abcd"):
        if progress:
            progress(f"column {name}: {rows:,} labels drawn from {cardinality:,}")
        indices = pa.array(rng.integers(0, cardinality, rows, dtype=np.int32),
                           mask=rng.random(rows, dtype=np.float32) < MISSING_SHARE)
        text = pa.DictionaryArray.from_arrays(indices, _arrow_labels(cardinality, prefix)).dictionary_decode()
        del indices
        columns[name] = pd.array(text, dtype=TEXT_DTYPES["arrow"])
    if progress:
        progress("numeric columns")
    f0 = rng.standard_normal(rows)
    f0[rng.random(rows, dtype=np.float32) < MISSING_SHARE] = np.nan
    columns["f0"] = f0
    columns["f1"] = rng.uniform(-1e6, 1e6, rows)
    columns["i0"] = rng.integers(0, 1_000, rows, dtype=np.int64)
    columns["i1"] = rng.integers(-(2**40), 2**40, rows, dtype=np.int64)
    return pd.DataFrame({name: columns[name] for name in FRAME_COLUMNS}, copy=False)


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
