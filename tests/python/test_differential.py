"""Real arrays and frames give exactly what the same tables give when read through item access.

A wrapper named "ndarray" (or "DataFrame") forwards only `shape`, item access, `columns` and
`values`, so the module has to take the generic route; the real object may take any faster one.
A frame's masked and Arrow-backed number columns are numbers whatever they hold: the wrapper's
`values` holds them as `to_numpy(dtype="float64", na_value=nan)` gives them.
"""

import gc
import re
import sys
import tempfile

import numpy as np
import pandas as pd
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from hypothesis.extra import numpy as hnp

import tarnix
from conftest import fingerprint, obj_array

try:
    import pyarrow as pa
except ImportError:  # not built for every platform (32-bit ARM has none): its cases are skipped
    pa = None

pytestmark = pytest.mark.filterwarnings("ignore::numpy.exceptions.ComplexWarning")


class ndarray:  # noqa: N801 - the name selects the array kind
    def __init__(self, real):
        self.real = real

    shape = property(lambda self: self.real.shape)

    def __getitem__(self, key):
        return self.real[key]


def number_extension(column):
    dtype = column.dtype
    if isinstance(dtype, pd.ArrowDtype):
        return pa is not None and (pa.types.is_integer(dtype.pyarrow_dtype) or dtype.pyarrow_dtype in (
            pa.float32(), pa.float64(), pa.bool_()))
    return isinstance(dtype, (pd.BooleanDtype, pd.core.dtypes.dtypes.BaseMaskedDtype))


def numbers_as_floats(frame):
    if not isinstance(frame, pd.DataFrame):
        return frame
    frame = frame.copy(deep=False)
    for j in range(frame.shape[1]):
        if number_extension(frame.iloc[:, j]):
            frame.isetitem(j, frame.iloc[:, j].to_numpy(dtype="float64", na_value=np.nan))
    return frame


class DataFrame:
    def __init__(self, real):
        self.real = real

    columns = property(lambda self: self.real.columns)
    shape = property(lambda self: self.real.shape)
    values = property(lambda self: ndarray(numbers_as_floats(self.real).values))


def compare(real, wrapped, fast_path=False):
    fast, generic = tarnix.Encoder(), tarnix.Encoder()
    encoded = fast.encode(real)
    assert fingerprint(encoded) == fingerprint(generic.encode(wrapped))
    for src in (encoded, real):
        a = fast.decode(src)
        b = generic.decode(wrapped if src is real else type(wrapped)(src))
        if fast_path:  # no record on one side, an empty one on the other: same numbers
            a, b = np.asarray(a, dtype=np.float64), np.asarray(b, dtype=np.float64)
            assert (a.view(np.uint64) == b.view(np.uint64)).all()
            continue
        assert fingerprint(a) == fingerprint(b)
        cells = a.to_numpy(dtype=object) if isinstance(a, pd.DataFrame) else a
        assert all(type(v) in (float, str, type(None)) for v in cells.ravel().tolist())


SPECIAL = [0.0, -0.0, 1.5, -2.25, np.nan, np.inf, -np.inf, 1e-300]


def grid(values, dtype, cols=3):
    flat = np.array(values, dtype=dtype)
    flat = np.resize(flat, ((flat.size + cols - 1) // cols) * cols)
    return flat.reshape(-1, cols)


def ints(dtype):
    info = np.iinfo(dtype)
    return grid([info.min, info.max, 0, 1, info.max // 3, info.min // 7, 2, 1], dtype)


def memmap(values, dtype):
    mm = np.memmap(tempfile.TemporaryFile(), dtype=dtype, mode="w+", shape=np.shape(values))
    mm[:] = values
    return mm


MIXED = obj_array([
    ["b", 1.5, 10**30, True, None],
    ["a", np.float32(0.1), "x", np.int64(-3), "nan"],
    ["\ud800z", -0.0, 2**63 + 5, np.str_("<NA>"), "é"],
    ["", np.nan, "", np.uint64(2**64 - 1), "NaN"],
])
EPOCH = np.datetime64("2024-02-29T12:00", "s")

ARRAYS = {
    "object": MIXED,
    **{np.dtype(t).name: ints(t) for t in (np.int8, np.int16, np.int32, np.int64,
                                          np.uint8, np.uint16, np.uint32)},
    "uint64": grid([0, 2**53 + 1, 2**63 + 1, 2**64 - 1, 2**63, 12345], np.uint64),
    "int64-above-2**53": grid([2**53 + 1, -(2**53) - 3, 2**62 + 7], np.int64),
    "bool": grid([True, False, False, True, True, False], np.bool_),
    "float16": grid(SPECIAL + [65504, 0.1], np.float16),
    "float32": grid(SPECIAL + [3.4e38, 0.1], np.float32),
    "float64": grid(SPECIAL + [0.1], np.float64),
    "big-endian-f8": grid(SPECIAL + [0.1], ">f8"),
    "big-endian-i4": grid([1, -2, 2**31 - 1, -(2**31), 7, 7], ">i4"),
    "longdouble": grid([1.1, np.nan, -np.inf, 1e300, 0.1, "1e4000", "-1e4000", "1e-4000", "-0"],
                       np.longdouble),
    "complex128": grid([1 + 2j, 3, 5j, np.nan, -1.5 - 0j, 2], np.complex128),
    "datetime64": grid([EPOCH, np.datetime64("NaT", "s"), EPOCH - np.timedelta64(1, "D")],
                       "datetime64[s]", 2),
    "timedelta64": grid([1, 2, -3, 1], "timedelta64[ms]", 2),
    "str": grid(["b", "nan", "", "é", "NaN", "b", "<NA>", "zz", "a"], "<U5"),
    "bytes": grid([b"ab", b"", b"nan", b"ab", b"z", b"\xff"], "S3"),
    "int-strided": np.arange(48, dtype=np.int32).reshape(6, 8)[::2, 1::3],
    "int-fortran": np.asfortranarray(ints(np.int16)),
    "object-reversed": MIXED[::-1, ::-1],
    "object-only-empty-text": obj_array([["", "x"], ["", ""], ["", "y"]]),
    "str-transposed": grid(["q", "p", "nan", "q", "r", "p"], "<U3").T,
    "float32-reversed": grid(SPECIAL, np.float32)[::-1],
    "float64-fortran": np.asfortranarray(grid(SPECIAL + [0.1], np.float64)),
    "float64-strided": grid(SPECIAL * 2, np.float64, 4)[::2, ::-2],
    "no-rows": np.zeros((0, 3), np.int32),
    "no-columns": np.zeros((3, 0), "<U2"),
    "memmap-int32": memmap([[3, 1], [1, -2], [7, 7]], np.int32),
    "memmap-float64-reversed": memmap([[0.5, np.nan], [-0.0, 2.0], [np.inf, 1.0]], np.float64)[::-1],
    "memmap-str": memmap([["b", "a"], ["nan", "b"], ["", "é"]], "<U4"),
    "memmap-uint8-strided": memmap([[1, 2, 3, 4], [5, 6, 7, 8]], np.uint8)[:, ::2],
}


def native_float64(a):
    return a.ndim == 2 and a.dtype == np.float64 and a.dtype.isnative


@pytest.mark.parametrize("case", ARRAYS)
def test_arrays(case):
    real = ARRAYS[case]
    compare(real, ndarray(real), fast_path=native_float64(real))


PLAIN_COLUMNS = {
    "f": [0.5, np.nan, -0.0, np.inf], "i": [1, 2**53 + 1, -3, 0], "b": [True, False, True, True],
    "o": pd.Series(["x", 1.5, None, "nan"], dtype=object),
    "u": np.array([1, 2, 3, 2**63 + 1], "u8"),
    "f32": np.array([0.1, 1, np.nan, 3], "f4"), "f16": np.array([0.1, -0.0, np.inf, 3], "f2"),
    "i1": np.array([-128, 127, 0, 1], "i1"), "s": pd.array(["b", None, "a", "b"], dtype="string"),
}
TEXT = [None, "b", "nan", "", "é", None, "😀", "NaN", "<NA>", "b"]


def chunks():
    """Three chunks, the first starting inside its buffers, with nulls."""
    return pa.chunked_array([["x", None, "y", "zz", "é"], [None, "", "nan"],
                             ["q", None, "w", "😀"]]).slice(1, 8)


def late_labels():
    """Past the rows whose labels an Arrow column learns first: a label first met in a later
    block (one sorting first, a long one, one sorting last), in a sliced chunk with nulls and
    in one without."""
    cells = np.resize(np.array(["b", "nan", "nine bytes", "a label of 17 byte", "é", ""], dtype=object), 70_000)
    cells[:50_000:97] = None
    cells[[30_000, 60_000, 69_000]] = ["a", "a label of 20 bytes.", "zz"]
    return pa.chunked_array([["pad"] + cells[:50_000].tolist(), cells[50_000:].tolist()]).slice(1)


def many_labels():
    """Three chunks, the first sliced, past the rows coded in one block: labels of 1 to 20 bytes, more than
    a block codes straight, missing ones and nulls among them."""
    words = [None, "nan", "NaN", "<NA>", "", "é"] + [format(k, "x") * (k % 5 + 1) for k in range(9000)]
    cells = [words[(k * 7919) % len(words)] if k % 50 else None for k in range(70_004)]
    return pa.chunked_array([cells[:30_000], cells[30_000:30_001], cells[30_001:]]).slice(1, 70_002)


class PrivateToPandas(pd.arrays.IntegerArray):
    """A masked array whose values and mask only pandas' own code sees, as if pandas had renamed them."""

    def __getattribute__(self, name):
        if name in ("_data", "_mask") and not sys._getframe(1).f_globals.get("__name__", "").startswith("pandas"):
            raise AttributeError(name)
        return super().__getattribute__(name)


def arrow(cells, kind=None):
    return pd.Series(cells, dtype=pd.ArrowDtype(kind or pa.string()))


FRAMES = {
    "plain": lambda: pd.DataFrame(PLAIN_COLUMNS),
    "plain-and-datetime": lambda: pd.DataFrame({**PLAIN_COLUMNS,
                                                "t": pd.date_range("2024-01-01", periods=4)}),
    "int-and-float": lambda: pd.DataFrame({"i": [2**53 + 1, 3], "u": np.array([2**64 - 1, 0], "u8"),
                                           "f": [0.5, np.nan]}),
    "extension": lambda: pd.DataFrame({
        "s": pd.array(["b", None, "a", "b"], dtype="string"),
        "n": pd.array([1, None, -7, 2**40], dtype="Int64"),
        "c": pd.Categorical(["x", "y", None, "x"]),
        "fl": pd.array([0.5, None, 1.0, 2.0], dtype="Float64"),
        "bo": pd.array([True, None, False, True], dtype="boolean"),
    }),
    "default-str": lambda: pd.DataFrame({"s": ["b", "a", None, "é"], "n": [1.0, 2.0, 3.0, 4.0]}),
    "all-float64": lambda: pd.DataFrame(np.arange(12.0).reshape(4, 3), columns=["a", "b", "c"]),
    "fortran-float64": lambda: pd.DataFrame(np.asfortranarray(np.arange(12.0).reshape(4, 3))),
    "int-names": lambda: pd.DataFrame([["p", 1], ["q", 2]], columns=[10, -3]),
    "no-rows": lambda: pd.DataFrame({"s": pd.Series([], dtype=object), "n": []}),
    "no-columns": lambda: pd.DataFrame(index=range(3)),
    "text-storages": lambda: pd.DataFrame({
        "o": pd.Series(TEXT, dtype=object), "py": pd.Series(TEXT, dtype=pd.StringDtype("python")),
        "str": pd.Series(TEXT, dtype="str"), "pa": pd.Series(TEXT, dtype="string[pyarrow]"),
        "ad": arrow(TEXT), "al": arrow(TEXT, pa.large_string()),
        # neither the ordering nor the unused category counts
        "cat": pd.Categorical(TEXT, ordered=True,
                              categories=["😀", "unused", "nan", "NaN", "b", "", "<NA>", "é"]),
        "n": np.arange(10.0),
    }),
    "text-all-missing": lambda: pd.DataFrame({
        "str": pd.Series([None] * 3, dtype="str"), "ad": arrow([None] * 3),
        "pa": pd.Series([None] * 3, dtype="string[pyarrow]"),
        "cat": pd.Categorical([None] * 3, categories=["a"]), "n": [1, 2, 3],
    }),
    "arrow-sliced-chunks": lambda: pd.DataFrame({
        "ea": pd.Series(pd.arrays.ArrowExtensionArray(chunks())),
        "str": pd.Series(chunks(), dtype="str"), "pa": pd.Series(chunks(), dtype="string[pyarrow]"),
        "al": pd.Series(chunks().cast(pa.large_string()), dtype=pd.ArrowDtype(pa.large_string())),
    }),
    "arrow-late-labels": lambda: pd.DataFrame({
        "str": pd.Series(late_labels(), dtype="str"),
        "al": pd.Series(late_labels().cast(pa.large_string()), dtype=pd.ArrowDtype(pa.large_string())),
    }),
    "arrow-many-labels": lambda: pd.DataFrame({
        "ea": pd.Series(pd.arrays.ArrowExtensionArray(many_labels())), "str": pd.Series(many_labels(), dtype="str"),
        "al": pd.Series(many_labels().cast(pa.large_string()), dtype=pd.ArrowDtype(pa.large_string())),
    }),
    # numbers whatever they hold: masked ones with and without missing cells
    "masked": lambda: pd.DataFrame({
        **{t: pd.array([2**63 - 1 if t == "Int64" else 7, None, 0, 1], dtype=t)
           for t in ("Int8", "UInt64", "Int64", "Float32")},
        "full": pd.array([2**53 + 1, -3, 0, 5], dtype="Int64"), "bo": pd.array([False, True, True, False]),
        "fn": pd.array([np.nan, 0.5, None, -0.0], dtype="Float64"), "s": ["b", "a", None, "b"],
    }),
    "masked-private": lambda: pd.DataFrame({
        "m": PrivateToPandas(np.array([5, 0, -3, 2**53 + 1]), np.array([False, True, False, False])),
        "s": ["b", "a", None, "b"]}),
    "arrow-numbers": lambda: pd.DataFrame({
        "i": pd.Series(pa.chunked_array([[1, None, 2**53 + 1], [], [-5, None]], pa.int64()).slice(1, 4),
                       dtype=pd.ArrowDtype(pa.int64())),
        "u": pd.Series(pa.chunked_array([[2**64 - 1, 3], [None, 0]], pa.uint64()), dtype=pd.ArrowDtype(pa.uint64())),
        "f": arrow([0.5, None, np.inf, -0.0], pa.float32()),
        "b": pd.Series(pa.chunked_array([[True, None, False], [True]]), dtype=pd.ArrowDtype(pa.bool_())),
        "none": arrow([None] * 4, pa.float64()), "c": arrow([1, 2, 3, None], pa.int8()),
    }),
    # one column of every storage; the date and decimal ones are read as "values" holds them
    "every-storage": lambda: pd.DataFrame({
        **PLAIN_COLUMNS, "m": pd.array([1, None, 3, 4], dtype="UInt8"), "ai": arrow([None, 5, 6, 7], pa.int32()),
        "as": arrow(["b", None, "a", "b"]), "cat": pd.Categorical(["x", None, "y", "x"]),
        "t": pd.date_range("2024-01-01", periods=4, tz="UTC"),
        "d": arrow([None, 1, 2, 3], pa.decimal128(5, 1)), "iv": pd.interval_range(0, 4),
    }),
    # float columns read as codes: strided, special values, one of float32
    "floats-strided": lambda: tall(pd.DataFrame({"a": SPECIAL, "b": SPECIAL[::-1]}), 1600).iloc[::-3],
    "floats-and-float32": lambda: pd.DataFrame({"a": SPECIAL, "b": np.array(SPECIAL, dtype=np.float32)}),
    "floats-in-blocks-apart": lambda: pd.DataFrame({"a": np.resize(SPECIAL, 1600)}).assign(
        b=lambda f: np.resize(SPECIAL, 1600)[::-1].copy(), c=lambda f: np.arange(1600.0)),
    # codes read backwards with a stride, at every height; categories Arrow-backed (pandas' default) and objects
    "categorical-strided": lambda: tall(pd.DataFrame({
        "c": pd.Categorical(["b", None, "a", "nan", "é"]), "n": np.arange(5.0),
        "o": pd.Categorical(["é", "a", None, "b", "nan"], categories=pd.Index(["nan", "é", "b", "a"], dtype=object)),
    }), 1600).iloc[::-3],
    # categories that are not all str: read as the cells they are
    "categorical-of-ints": lambda: pd.DataFrame({"c": pd.Categorical([3, None, 1, 3]),
                                                 "n": [0.5] * 4}),
    "categorical-of-objects": lambda: pd.DataFrame({
        "c": pd.Categorical([2, None, 1.5, 2], categories=pd.Index([2, 1.5], dtype=object)),
        "s": pd.Series(["b", None, "a", "b"], dtype="str")}),
}


def tall(frame, rows=600):
    """The frame's rows repeated past the size from which frames are read column by column."""
    if len(frame) == 0:
        return frame
    return pd.concat([frame] * (rows // len(frame) + 1), ignore_index=True)


ARROW_FRAMES = {"text-storages", "text-all-missing", "arrow-sliced-chunks", "arrow-late-labels", "arrow-many-labels",
                "arrow-numbers", "every-storage"}
needs_arrow = pytest.mark.skipif(pa is None, reason="needs pyarrow")


@pytest.mark.parametrize("height", [lambda f: f, tall], ids=["short", "tall"])
@pytest.mark.parametrize("case", FRAMES)
def test_frames(case, height):
    if case in ARROW_FRAMES and pa is None:
        pytest.skip("needs pyarrow")
    real = height(FRAMES[case]())
    compare(real, DataFrame(real))


@needs_arrow
@pytest.mark.parametrize("height", [lambda f: f, tall], ids=["short", "tall"])
def test_string_views_read_as_strings(height):
    """pandas cannot turn string views into objects, so they are held to the same strings."""
    cells = [None, "twelve bytes", "thirteen byte", "", "é" * 7, "😀😀😀", None, "nan",
             "twelve bytes"]

    def frame(kind):
        return height(pd.DataFrame({"v": arrow(cells, kind), "w": arrow(cells[::-1], kind),
                                    "s": pd.Series(cells, dtype="str"), "c": pd.Categorical(cells),
                                    "n": np.arange(9.0)}))

    compare(frame(pa.string_view()), DataFrame(frame(pa.string())))


NUMBERS = "numpy-number " * 4
STRING = "python-str" if pd.StringDtype().storage == "python" else "arrow-string"  # the "string" dtype's


@pytest.mark.parametrize("case, routes", [
    ("plain", "numpy-number " * 3 + "numpy-object " + NUMBERS + STRING),
    ("text-storages", "numpy-object python-str " + "arrow-string " * 4 + "categorical-text numpy-number"),
    ("plain-and-datetime", "numpy-number " * 3 + "numpy-object " + NUMBERS + STRING + " other"),
    ("categorical-of-ints", "categorical-text numpy-number"),  # opened as such, it is not text
    ("masked", "masked-number " * 7 + "arrow-string"),
    ("arrow-numbers", "arrow-number " * 6),
    ("every-storage", "numpy-number " * 3 + "numpy-object " + NUMBERS + "arrow-string masked-number arrow-number "
     "arrow-string categorical-text " + "other " * 3),
])
def test_each_storage_kind_takes_its_own_route(monkeypatch, capfd, case, routes):
    """A pandas change that made a column fall back to the frame's values would go unnoticed by timing."""
    if case in ARROW_FRAMES and pa is None:
        pytest.skip("needs pyarrow")
    real = tall(FRAMES[case]())
    monkeypatch.setenv("TARNIX_TRACE_ROUTES", "1")
    enc = tarnix.Encoder()

    def traced(call):
        call()
        err = capfd.readouterr().err
        return err, re.findall(r"^tarnix route: column \d+: ([a-z-]+)$", err, re.M)

    err, kinds = traced(lambda: enc.encode(real))
    assert kinds == routes.split()
    assert ("frame: by columns" in err) == (case != "categorical-of-ints")
    # the codes are read where they lie, and the labels put back in one frame built from blocks
    err, kinds = traced(lambda: enc.decode(enc.encode(real)))
    assert kinds[len(routes.split()):] == ["numpy-number"] * real.shape[1]
    assert ("fallback: create_dataframe_from_blocks" in err) == (int(pd.__version__.split(".")[0]) < 3)


def rewritten(kind):
    """A table whose first cell, when printed, replaces three other cells."""
    box = {}

    def rewrite(self):
        at = box["table"] if kind == "array" else box["table"].iloc
        at[1, 0], at[0, 1], at[1, 1] = "".join(["re", "placed"]), "".join(["new", "cell"]), 7.5
        gc.collect()  # the replaced cells are gone
        return "m"

    cells = [[type("Cell", (), {"__str__": rewrite})(), "old"], ["old", "old"]]
    box["table"] = obj_array(cells) if kind == "array" else pd.DataFrame(cells, dtype=object)
    return box["table"]


@pytest.mark.parametrize("kind, wrapper", [("array", ndarray), ("frame", DataFrame)])
def test_tables_rewritten_while_read(kind, wrapper):
    outs = []
    for wrap in (lambda t: t, wrapper):
        enc = tarnix.Encoder()
        encoded = enc.encode(wrap(rewritten(kind)))
        outs.append((fingerprint(encoded), fingerprint(enc.decode(encoded))))
    assert outs[0] == outs[1]


def test_a_freed_cell_is_not_taken_for_the_cell_in_its_place():
    # The printed cell frees the first cell and puts a new str of its size,
    # likely at the same address, further down the column.
    table = obj_array([["".join(["on", "e!"])], [None], ["x"]])

    def rewrite(self):
        table[0, 0] = None
        table[2, 0] = "".join(["tw", "o!"])
        return "m"

    table[1, 0] = type("Cell", (), {"__str__": rewrite})()
    enc = tarnix.Encoder()
    assert enc.decode(enc.encode(table))[:, 0].tolist() == ["one!", "m", "two!"]


DTYPES = [np.int8, np.int64, np.uint64, np.float16, np.float32, np.float64, np.bool_, "<U3", ">f8",
          "datetime64[D]"]
LAYOUTS = [lambda a: a, lambda a: a.T, lambda a: a[::-1], lambda a: a[:, ::-2], np.asfortranarray]


@settings(max_examples=60, deadline=None)
@given(
    table=st.sampled_from(DTYPES).flatmap(
        lambda t: hnp.arrays(t, hnp.array_shapes(min_dims=2, max_dims=2, min_side=0, max_side=6))),
    layout=st.sampled_from(LAYOUTS),
)
def test_random_arrays(table, layout):
    real = layout(table)
    compare(real, ndarray(real), fast_path=native_float64(real))


TEXT_DTYPES = ["string", "object", "str", "category"] + (["string[pyarrow]"] if pa else [])
TEXT_OR_NONE = st.one_of(st.none(), st.sampled_from(["nan", "<NA>", "", "b"]), st.text(max_size=3))


@st.composite
def frames(draw):
    rows, cols = draw(st.integers(0, 6)), draw(st.integers(0, 4))
    data = {}
    for c in range(cols):
        dtype = draw(st.sampled_from(DTYPES[:7] + TEXT_DTYPES))
        if dtype in TEXT_DTYPES:
            cells = st.one_of(TEXT_OR_NONE, st.floats()) if dtype == "object" else TEXT_OR_NONE
            data[c] = pd.array(draw(st.lists(cells, min_size=rows, max_size=rows)), dtype=dtype)
        else:
            data[c] = draw(hnp.arrays(dtype, rows))
    return pd.DataFrame(data, index=range(rows))


@settings(max_examples=60, deadline=None)
@given(real=frames(), height=st.sampled_from([lambda f: f, tall]))
def test_random_frames(real, height):
    real = height(real)
    compare(real, DataFrame(real))


def test_frame_read_by_columns_falls_back_to_values_when_pandas_fails(monkeypatch):
    real = tall(FRAMES["plain"]())
    expected = fingerprint(tarnix.Encoder().encode(real))

    def fail(self):
        raise RuntimeError("iloc unavailable")

    monkeypatch.setattr(pd.DataFrame, "iloc", property(fail))
    before = sys.getrefcount(real)
    assert fingerprint(tarnix.Encoder().encode(real)) == expected
    assert sys.getrefcount(real) == before
