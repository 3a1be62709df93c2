"""decode: codes of the recorded columns turned back into labels."""

import gc
import math
import sys

import numpy as np
import pandas as pd
import pytest

import tarnix
from conftest import bits, column, obj_array

nan = math.nan

# cell value -> label, with apple, kiwi and pear holding the codes 0, 1 and 2 (None: no label)
# (how a value saturates to a code is the native suite's)
WORKED = [
    (0.0, "apple"), (1.7, "kiwi"), (2.0, "pear"), (3.0, None), (-4.0, "apple"), (1e300, None), (nan, None),
]
VALUES = [v for v, _ in WORKED]
LABELS = [l for _, l in WORKED]


@pytest.fixture
def fruit_enc(enc):
    enc.encode(column(["pear", "apple", "kiwi", "pear"]))
    return enc


LAYOUTS = {
    "c": lambda t: (t, slice(None)),
    "fortran": lambda t: (np.asfortranarray(t), slice(None)),
    "reversed": lambda t: (t[::-1], slice(None, None, -1)),
    "stepped": lambda t: (np.repeat(t, 2, axis=0)[::2], slice(None)),
}


@pytest.mark.parametrize("layout", LAYOUTS)
def test_worked_example_array(fruit_enc, layout):
    table, order = LAYOUTS[layout](np.array([VALUES, [1.0] * len(VALUES)]).T)
    out = fruit_enc.decode(table)
    assert type(out) is np.ndarray and out.dtype == object and out.shape == table.shape
    assert out[:, 0].tolist() == ["NaN" if l is None else l for l in LABELS][order]
    assert all(type(v) is str for v in out[:, 0])
    assert all(type(v) is float and v == 1.0 for v in out[:, 1])


def test_worked_example_frame(enc):
    enc.encode(pd.DataFrame({"fruit": ["kiwi", "pear", "apple"], "n": [1, 2, 3]}))
    # names differ from the encoded frame's: columns are decoded by position
    src = pd.DataFrame({"x": VALUES, "y": [0.0] * len(VALUES)}, index=range(5, 5 + len(VALUES)))
    out = enc.decode(src)
    assert list(out.columns) == ["x", "y"]
    assert out["x"].dtype == object and out["x"].tolist() == LABELS
    assert out["y"].dtype == np.float64 and out["y"].tolist() == [0.0] * len(VALUES)
    assert isinstance(out.index, pd.RangeIndex) and out.index[0] == 0


@pytest.mark.parametrize(
    "src",
    [
        obj_array([["b", 1], ["a", nan], ["nan", 2]]),
        np.array([[1, 2], [3, 4]], dtype=np.int32),
        pd.DataFrame({"s": ["b", "a"], "n": [1.5, -0.0]}),
    ],
    ids=["object", "int32", "frame"],
)
def test_decode_without_record_returns_what_encode_returns(src):
    got, want = tarnix.Encoder().decode(src), tarnix.Encoder().encode(src)
    assert type(got) is type(want)
    if isinstance(want, pd.DataFrame):
        assert list(got.columns) == list(want.columns) and (got.dtypes == np.float64).all()
        got, want = got.to_numpy(), want.to_numpy()
    assert got.dtype == np.float64 and (bits(got) == bits(want)).all()


def test_decode_input_with_text_uses_its_own_fresh_codes(fruit_enc):
    # zz, aa, mm get the fresh codes 2, 0, 1, read through the stored record
    out = fruit_enc.decode(obj_array([["zz", "q"], ["aa", "r"], ["mm", "q"]]))
    assert out.tolist() == [["pear", 0.0], ["apple", 1.0], ["kiwi", 0.0]]
    assert fruit_enc.decode(np.array([[1.0, 5.0]])).tolist() == [["kiwi", 5.0]]


def test_only_recorded_columns_are_decoded(enc):
    enc.encode(obj_array([[1, "b", 2.5], [2, "a", 3]]))
    assert enc.decode(np.array([[0.0, 1.0, 1.0], [1.0, 0.0, 0.0]])).tolist() == [
        [0.0, "b", 1.0], [1.0, "a", 0.0]]
    frame = enc.decode(pd.DataFrame({"p": [1.0, 0.0], "q": [1.0, 0.0], "r": [0.0, 2.0]}))
    assert frame.dtypes.tolist() == [np.float64, object, np.float64]
    assert frame.to_dict("list") == {"p": [1.0, 0.0], "q": ["b", "a"], "r": [0.0, 2.0]}


def test_column_of_only_missing_labels_decodes_to_fallback(enc):
    enc.encode(obj_array([["nan", "x"], ["<NA>", "y"]]))
    assert enc.decode(np.array([[0.0, 1.0], [nan, 0.0]])).tolist() == [["NaN", "y"], ["NaN", "x"]]
    frame = enc.decode(pd.DataFrame({"a": [0.0, nan], "b": [1.0, 0.0]}))
    assert frame.to_dict("list") == {"a": [None, None], "b": ["y", "x"]}


def test_zero_row_decodes(enc):
    enc.encode(pd.DataFrame({"s": ["x", "y"], "n": [1.0, 2.0]}))
    frame = enc.decode(pd.DataFrame({"s": [], "n": []}, dtype=np.float64))
    assert frame.shape == (0, 2) and frame.dtypes.tolist() == [object, np.float64]
    arr = enc.decode(np.zeros((0, 2)))
    assert arr.dtype == object and arr.shape == (0, 2)


# ---------------------------------------------------------------- narrower tables


@pytest.fixture
def wide_enc(enc):
    enc.encode(obj_array([[1, 2, "x"], [3, 4, "y"]]))  # records column 2 only
    return enc


@pytest.mark.parametrize(
    "narrow",
    [
        lambda: np.zeros((1, 2)),
        lambda: np.zeros((3, 0)),
        lambda: obj_array([["t", "u"]]),
        lambda: pd.DataFrame(np.zeros((1, 2)), columns=["a", "b"]),
        lambda: pd.DataFrame(np.zeros((0, 2)), columns=["a", "b"]),
        lambda: pd.DataFrame(index=range(2)),
    ],
    ids=["array", "no-columns", "object-array", "frame", "empty-frame", "frame-no-columns"],
)
def test_narrower_table_is_rejected_before_output(wide_enc, monkeypatch, narrow):
    src = narrow()
    built = []
    real = pd.DataFrame
    monkeypatch.setattr(pd, "DataFrame", lambda *a, **k: built.append(1) or real(*a, **k))
    with pytest.raises(ValueError) as info:
        wide_enc.decode(src)
    assert str(info.value).startswith("cannot decode:")
    assert built == []
    monkeypatch.undo()
    assert wide_enc.decode(np.array([[0.0, 0.0, 1.0]])).tolist() == [[0.0, 0.0, "y"]]


def test_narrower_array_without_rows_reads_no_cell(wide_enc):
    out = wide_enc.decode(np.zeros((0, 2)))
    assert out.dtype == object and out.shape == (0, 2)


class Boom(Exception):
    pass


def boom(*args, **kwargs):
    raise Boom("from pandas")


try:
    import pandas.api.internals as pandas_internals
except ImportError:  # pandas before 3 builds no frame from blocks: the fallback is all there is
    pandas_internals = None

BLOCKS = "create_dataframe_from_blocks"


def drop_blocks(monkeypatch):
    if pandas_internals is not None:
        monkeypatch.delattr(pandas_internals, BLOCKS)


@pytest.mark.parametrize(
    "without_blocks, target, name",
    [
        # a frame built from blocks (pandas 3)
        *[pytest.param(False, target, name,
                       marks=pytest.mark.skipif(pandas_internals is None, reason="pandas before 3"))
          for target, name in ((pd, "RangeIndex"), (pd, "Index"), (pandas_internals, BLOCKS))],
        # a pandas that cannot build a frame from blocks: replace columns
        (True, pd, "DataFrame"),
        (True, pd, "Series"),
        (True, pd.DataFrame, "isetitem"),
    ],
)
def test_failing_pandas_call_ends_decode_with_its_exception(monkeypatch, without_blocks, target, name):
    if without_blocks:
        drop_blocks(monkeypatch)
    enc = tarnix.Encoder()
    frame = pd.DataFrame({"s": ["b", "a"], "n": [1.0, 2.0]})
    encoded = enc.encode(frame)
    before = sys.getrefcount(encoded)
    monkeypatch.setattr(target, name, boom)
    with pytest.raises(Boom, match="from pandas"):
        enc.decode(encoded)
    monkeypatch.undo()
    assert sys.getrefcount(encoded) == before
    assert enc.decode(encoded)["s"].tolist() == ["b", "a"]  # the record is intact


def test_frames_decode_alike_with_and_without_blocks(monkeypatch):
    enc = tarnix.Encoder()
    frame = pd.DataFrame([["b", 1.5, "x", None], ["a", 2.0, "nan", "y"]], columns=["s", "n", "s", "t"])
    encoded = enc.encode(frame)
    by_blocks = enc.decode(encoded)
    drop_blocks(monkeypatch)
    by_columns = enc.decode(encoded)
    for out in (by_blocks, by_columns):
        assert list(out.dtypes) == [object, np.float64, object, object]
        assert list(out.columns) == ["s", "n", "s", "t"]
    pd.testing.assert_frame_equal(by_blocks, by_columns)
    assert by_blocks.iloc[1, 2] is None and by_blocks.iloc[1, 0] == "a"


@pytest.mark.parametrize("kind", ["array", "frame", "frame-without-blocks"])
def test_label_strs_are_referenced_by_their_cells_alone(monkeypatch, kind):
    if kind == "frame-without-blocks":
        drop_blocks(monkeypatch)
    cells = ["b", "a", "b", "nan", "b", "c"] * 100
    src = column(cells) if kind == "array" else pd.DataFrame({"s": pd.Series(cells, dtype=object)})
    enc = tarnix.Encoder()
    out = enc.decode(enc.encode(src))
    values = out[:, 0] if kind == "array" else out["s"]
    label = values[0]
    cells_with_it = sum(v is label for v in values)
    assert cells_with_it == 300
    # one reference per cell, plus `label` and getrefcount's argument
    assert sys.getrefcount(label) == cells_with_it + 2
    del out, values
    gc.collect()
    assert sys.getrefcount(label) == 2
