"""Which inputs are accepted, how column names are read, and the shape of the outputs."""

import numpy as np
import pandas as pd
import pytest

from conftest import bits, named, obj_array

REFUSAL = "Unsupported type: '{}'. Supported types are: numpy.ndarray, pandas.DataFrame"


class MyFrame(pd.DataFrame):
    pass


class Untouchable:
    """Fails on any attribute read such as "columns", "shape" or "values"."""

    def __getattr__(self, name):
        if name.startswith("__"):
            raise AttributeError(name)
        raise AssertionError(f"read {name}")


def no_such_attribute(self, name):
    raise AttributeError(name)


# ---------------------------------------------------------------- refusal


@pytest.mark.parametrize("method", ["encode", "decode"])
@pytest.mark.parametrize(
    "obj, name",
    [
        ([[1.0, 2.0]], "list"),
        (((1.0,),), "tuple"),
        (3, "int"),
        (None, "NoneType"),
        ({"a": [1]}, "dict"),
        (pd.Series([1.0, 2.0]), "Series"),
        (np.array([[1.0, 2.0]]).view(np.matrix), "matrix"),
        (MyFrame({"a": [1.0]}), "MyFrame"),
        (Untouchable(), "Untouchable"),
        # named DataFrame, without what is read of one (as a polars frame, which has __getattr__)
        (named("DataFrame", columns=["a"], shape=(600, 1), __getattr__=no_such_attribute),
         "DataFrame"),
        (named("DataFrame", columns=["a"], shape=(1, 1)), "DataFrame"),
        (named("DataFrame", shape=(1, 1), values=obj_array([["x"]])), "DataFrame"),
    ],
    ids=lambda v: v if isinstance(v, str) else None,
)
def test_refused_type_prints_class_name_and_raises(enc, capfd, method, obj, name):
    with pytest.raises(TypeError) as info:
        getattr(enc, method)(obj)
    assert str(info.value) == REFUSAL.format(name)
    assert info.value.args == (REFUSAL.format(name),)
    out, _ = capfd.readouterr()
    assert out == name + "\n"


def test_user_class_named_dataframe_is_read_as_a_frame(enc):
    frame = named("DataFrame", columns=["a", "b"], shape=(2, 2),
                  values=obj_array([["y", 1], ["x", 2]]))
    out = enc.encode(frame)
    assert isinstance(out, pd.DataFrame)
    assert list(out.columns) == ["a", "b"]
    assert out.to_numpy().tolist() == [[1.0, 1.0], [0.0, 2.0]]


def test_user_class_named_ndarray_is_read_as_an_array(enc):
    cells = {(0, 0): "b", (0, 1): 3, (1, 0): "a", (1, 1): 4.5}
    arr = named("ndarray", shape=(2, 2), __getitem__=lambda self, key: cells[key])
    out = enc.encode(arr)
    assert type(out) is np.ndarray and out.dtype == np.float64
    assert out.tolist() == [[1.0, 3.0], [0.0, 4.5]]


# ---------------------------------------------------------------- column names


@pytest.mark.parametrize(
    "labels, names",
    [
        (["a", "é"], ["a", "é"]),
        (None, ["0", "1"]),  # pandas' default integer header
        ([np.int64(10), np.int64(-3)], ["10", "-3"]),
        ([0, -5], ["0", "-5"]),
        ([-(2**63), 2**63 - 1], [str(-(2**63)), str(2**63 - 1)]),
    ],
)
def test_column_names_become_str(enc, labels, names):
    df = pd.DataFrame([[1.0, 2.0]], columns=labels)
    for out in (enc.encode(df), enc.decode(df)):
        assert list(out.columns) == names


@pytest.mark.parametrize(
    "labels, exc, text",
    [(["a", 1], TypeError, "'str' object cannot be interpreted as an integer"),
     ([1.5, 2.5], TypeError, "'float' object cannot be interpreted as an integer"),
     ([("a", "x"), ("a", "y")], TypeError, "'tuple' object cannot be interpreted as an integer"),
     ([2**63, 1], OverflowError, None)],
)
@pytest.mark.parametrize("method", ["encode", "decode"])
def test_unreadable_column_names(enc, capfd, method, labels, exc, text):
    df = pd.DataFrame([[1.0, 2.0]], columns=labels)
    with pytest.raises(exc) as info:
        getattr(enc, method)(df)
    assert text is None or str(info.value) == text
    assert capfd.readouterr().out == ""


def test_columns_attribute_that_raises_passes_its_error(enc):
    class DataFrame:
        shape = (1, 1)

        @property
        def columns(self):
            raise KeyError("no columns here")

    with pytest.raises(KeyError, match="no columns here"):
        enc.encode(DataFrame())


@pytest.mark.parametrize("columns", [5, "ab", {"a"}])
def test_columns_neither_sequence_nor_tolist(enc, columns):
    with pytest.raises(AttributeError):
        enc.encode(named("DataFrame", columns=columns, shape=(1, 1), values=obj_array([[1]])))


# ---------------------------------------------------------------- fast path

SPECIAL = np.array([0x7FF8000000000123, 0x7FF0000000000001, 0xFFF8000000000000,
                    0x7FF0000000000000, 0xFFF0000000000000, 0x8000000000000000],
                   dtype=np.uint64).view(np.float64)


def special_table(rows=4, cols=6):
    data = np.arange(rows * cols, dtype=np.float64) * 1.25 - 7
    data[: SPECIAL.size] = SPECIAL
    return data.reshape(rows, cols)


@pytest.mark.parametrize(
    "make, order",
    [
        (lambda: special_table(), "C"),
        (lambda: np.asfortranarray(special_table()), "F"),
        (lambda: special_table()[::-1], "C"),
        (lambda: special_table()[:, ::-1], "C"),
        (lambda: special_table(8, 12)[1::2, ::3], "C"),
        (lambda: special_table().T, "F"),
    ],
    ids=["c", "fortran", "rows-reversed", "cols-reversed", "stepped", "transposed"],
)
@pytest.mark.parametrize("method", ["encode", "decode"])
def test_fast_path_copies_bit_for_bit(enc, make, order, method):
    src = make()
    keep = src.copy()
    out = getattr(enc, method)(src)
    assert type(out) is np.ndarray and out.dtype == np.float64 and out.shape == src.shape
    assert (bits(out) == bits(src)).all()
    assert out.flags.c_contiguous if order == "C" else out.flags.f_contiguous
    assert not np.shares_memory(out, src)
    assert (bits(src) == bits(keep)).all()


def test_memmap_comes_back_as_plain_array(enc, tmp_path):
    mm = np.memmap(tmp_path / "table.f8", dtype=np.float64, mode="w+", shape=(3, 2))
    mm[:] = special_table(3, 2)
    out = enc.encode(mm)
    assert type(out) is np.ndarray
    assert (bits(out) == bits(mm)).all()


@pytest.mark.parametrize("shape", [(0, 3), (3, 0), (0, 0)])
def test_fast_path_empty_shapes(enc, shape):
    out = enc.encode(np.zeros(shape))
    assert type(out) is np.ndarray and out.shape == shape and out.dtype == np.float64


def test_fast_path_leaves_no_record(enc):
    enc.encode(obj_array([["a"], ["b"]]))
    enc.encode(np.zeros((2, 1)))
    out = enc.decode(np.array([[0.0], [1.0]]))
    assert out.dtype == np.float64 and out.tolist() == [[0.0], [1.0]]


# ---------------------------------------------------------------- object path


@pytest.mark.parametrize(
    "src",
    [
        np.array([[1, -2], [3, 2**40]], dtype=np.int64),
        np.asfortranarray(np.array([[1, 2, 3], [4, 5, 6]], dtype=np.int16)),
        obj_array([[1, 0.5], [True, np.float32(2.5)]]),
    ],
    ids=["int64", "int16-fortran", "object"],
)
def test_object_path_numeric_values_and_empty_record(enc, src):
    out = enc.encode(src)
    assert type(out) is np.ndarray and out.dtype == np.float64 and out.flags.c_contiguous
    want = np.array([[float(src[r, c]) for c in range(src.shape[1])] for r in range(src.shape[0])])
    assert (bits(out) == bits(want)).all()
    dec = enc.decode(out)
    assert dec.dtype == object
    assert all(type(v) is float for v in dec.ravel())
    assert (bits(dec.astype(np.float64)) == bits(want)).all()


def test_object_path_nan_payload_passes_unchanged(enc):
    src = obj_array([[float(SPECIAL[0]), 1], [float(SPECIAL[5]), 2]])
    assert (bits(enc.encode(src)) == bits([[SPECIAL[0], 1.0], [SPECIAL[5], 2.0]])).all()


def test_dataframe_output_is_fresh_float_frame(enc):
    df = pd.DataFrame({"city": ["Oslo", "Bergen", "Oslo"], "n": [1, 2, 3], "f": [0.5, np.nan, -0.0]},
                      index=["x", "y", "z"])
    out = enc.encode(df)
    assert type(out) is pd.DataFrame and out is not df
    assert list(out.columns) == ["city", "n", "f"]
    assert all(isinstance(c, str) for c in out.columns)
    assert (out.dtypes == np.float64).all()
    assert isinstance(out.index, pd.RangeIndex) and list(out.index) == [0, 1, 2]
    assert (bits(out.to_numpy()) == bits([[1, 1, 0.5], [0, 2, np.nan], [1, 3, -0.0]])).all()


def test_all_float_frame_still_records_an_empty_record(enc):
    df = pd.DataFrame({"a": [0.0, 1.0]})
    enc.encode(obj_array([["p", "q"]]))
    enc.encode(df)
    # an empty record: the array decoding still runs and yields Python floats
    dec = enc.decode(np.array([[0.0, 1.0]]))
    assert dec.dtype == object and dec.tolist() == [[0.0, 1.0]]
    frame = enc.decode(df)
    assert (frame.dtypes == np.float64).all()


@pytest.mark.parametrize("shape", [(0, 2), (2, 0), (0, 0)])
def test_empty_frames(enc, shape):
    df = pd.DataFrame(np.empty(shape, dtype=object), columns=[f"c{i}" for i in range(shape[1])])
    out = enc.encode(df)
    assert out.shape == shape and list(out.columns) == list(df.columns)
