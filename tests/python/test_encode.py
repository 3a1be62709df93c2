"""Label rules of encode, what the stored record becomes, and fatal inputs."""

import math
import sys

import numpy as np
import pandas as pd
import pytest

from conftest import bits, codes_of, column, named, obj_array, positional, raises_panic

nan = math.nan
inf = math.inf


def encode_column(enc, cells, frame):
    src = pd.DataFrame({"s": pd.Series(cells, dtype=object)}) if frame else column(cells)
    out = enc.encode(src)
    return np.asarray(out["s"] if frame else out[:, 0], dtype=np.float64)


@pytest.mark.parametrize("frame", [False, True], ids=["array", "frame"])
@pytest.mark.parametrize(
    "cells, codes",
    [
        (["9", "10", "100"], [2, 0, 1]),
        (["a", "Z"], [1, 0]),
        (["é", "z", "A"], [2, 1, 0]),
        (["ß", "日本", "a", "€"], [1, 3, 0, 2]),
        (["b", "a", "nan", "b", "c", ""], [2, 1, nan, 2, 3, 0]),
        (["a", "nan", "b"], [0, nan, 1]),
        (["<NA>", "A", "NaN", "Z"], [nan, 0, nan, 1]),
        (["NAN", "Nan", "na", " nan", "None", ""], [2, 3, 5, 1, 4, 0]),
        (["nan", "NaN", "<NA>"], [nan, nan, nan]),
        (["x", "x", "x"], [0, 0, 0]),
        ([1.0, "x", 1.0], [0, 2, 1]),
        ([1.0, 2.5, "x"], [0, 1, 2]),
        (["a", None, nan, pd.NA, "b"], [1, 0, nan, nan, 2]),
        ([nan, 7, True, "a"], [nan, 1, 0, 2]),
        (["x", np.float64(nan), np.float32(nan)], [0, nan, nan]),
    ],
)
def test_codes_follow_byte_order_of_labels(enc, cells, codes, frame):
    assert (bits(encode_column(enc, cells, frame)) == bits(codes)).all()


# Columns of few distinct labels are numbered as they are read and stored
# label by label from the first label too many on: codes are the same either way.
@pytest.mark.parametrize("frame", [False, True], ids=["array", "frame"])
@pytest.mark.parametrize("distinct", [4095, 4096, 4097, 9000])
@pytest.mark.parametrize("lead", ["text", "numbers"])
def test_codes_around_the_few_labels_limit(enc, distinct, lead, frame):
    rng = np.random.default_rng(distinct)
    words = [f"w{i:05d}" for i in range(distinct)] + ["nan"]
    labels = [words[i] for i in rng.integers(0, len(words), 3 * distinct)]
    cells = list(labels)
    if lead == "numbers":  # the column turns to text after many numbers
        cells[: distinct // 2] = [float(i) for i in range(distinct // 2)]
        labels[: distinct // 2] = [positional(c) for c in cells[: distinct // 2]]
    cells[-1], labels[-1] = None, "None"
    assert (bits(encode_column(enc, cells, frame)) == bits(codes_of(labels))).all()


@pytest.mark.parametrize(
    "cells, labels",
    [
        ([1.0, "x", 1.0], ["1", "x", "1.0"]),
        ([1.0, 2.5, "x"], ["1", "2.5", "x"]),
        (["a", None, nan, pd.NA, "b"], ["a", "None", "NaN", "NaN", "b"]),
        (["ß", "日本", "", "€"], ["ß", "日本", "", "€"]),
        (["\ud800", "a"], ["\ufffd" * 3, "a"]),
        (["x\udcff", "\ud83d\ude00"], ["x" + "\ufffd" * 3, "\ufffd" * 6]),
    ],
)
def test_round_trip_labels(enc, cells, labels):
    src = column(cells)
    assert enc.decode(enc.encode(src))[:, 0].tolist() == labels
    df = pd.DataFrame({"s": pd.Series(cells, dtype=object)})
    frame_labels = [None if l == "NaN" else l for l in labels]
    assert enc.decode(enc.encode(df))["s"].tolist() == frame_labels


def test_lone_surrogate_sorts_as_replacement_characters(enc):
    # the label is U+FFFD three times: EF BF BD sorts after "a" and before U+FFFF (EF BF BF)
    assert encode_column(enc, ["\ud800", "a", "\uffff"], False).tolist() == [1, 0, 2]


@pytest.mark.parametrize(
    "value, before, after",
    [
        (1e20, "100000000000000000000", "1e+20"),
        (1e-7, "0.0000001", "1e-07"),
        (-0.0, "-0", "-0.0"),
        (2.5, "2.5", "2.5"),
        (0.1, "0.1", "0.1"),
        (123456789.0, "123456789", "123456789.0"),
        (inf, "inf", "inf"),
        (-inf, "-inf", "-inf"),
        (7, "7", "7"),
        (True, "1", "True"),
        (np.float32(0.1), "0.10000000149011612", "0.1"),
    ],
)
def test_numbers_rendered_by_position_of_first_text_cell(enc, value, before, after):
    assert enc.decode(enc.encode(column([value, "x"])))[:, 0].tolist() == [before, "x"]
    assert enc.decode(enc.encode(column(["x", value])))[:, 0].tolist() == ["x", after]


def test_string_dtype_missing_is_missing(enc):
    df = pd.DataFrame({"s": pd.array(["b", pd.NA, "a"], dtype="string"), "n": [1, 2, 3]})
    out = enc.encode(df)
    assert (bits(out.to_numpy()) == bits([[1, 1], [nan, 2], [0, 3]])).all()
    assert enc.decode(out)["s"].tolist() == ["b", None, "a"]


def test_columns_are_classified_independently(enc):
    src = obj_array([["b", 1.5, 3], ["a", -2, "q"], ["b", True, "p"]])
    out = enc.encode(src)
    assert (bits(out) == bits([[1, 1.5, 0], [0, -2, 2], [1, 1, 1]])).all()
    assert enc.decode(out).tolist() == [["b", 1.5, "3"], ["a", -2.0, "q"], ["b", 1.0, "p"]]


# ---------------------------------------------------------------- the stored record

FRUIT = column(["pear", "apple", "kiwi"])


def bad_names_frame():
    return pd.DataFrame([[1.0, 2.0]], columns=["a", 1])


def str_raises_cell():
    class Cell:
        def __float__(self):
            raise TypeError("not a number")

        def __str__(self):
            raise ValueError("no text either")

    return column([Cell(), "x"])


@pytest.mark.parametrize(
    "bad",
    [lambda: [1, 2], bad_names_frame, lambda: np.zeros(3, dtype=object),
     lambda: np.zeros((1, 1, 1)), str_raises_cell],
    ids=["refused", "bad-names", "one-dim", "three-dim", "str-raises"],
)
def test_failed_encode_keeps_the_earlier_record(enc, bad):
    enc.encode(FRUIT)
    try:
        enc.encode(bad())
    except BaseException as e:
        assert isinstance(e, TypeError) or type(e).__name__ == "PanicException"
    else:
        pytest.fail("encode accepted a bad input")
    assert enc.decode(np.array([[2.0], [0.0]])).tolist() == [["pear"], ["apple"]]


def test_each_encode_replaces_the_record(enc):
    enc.encode(FRUIT)
    enc.encode(obj_array([[1, "zz"], [2, "yy"]]))
    assert enc.decode(np.array([[0.0, 0.0]])).tolist() == [[0.0, "yy"]]
    enc.encode(np.array([[1, 2]]))  # object path, no text column: empty record
    assert enc.decode(np.array([[0.0, 0.0]])).tolist() == [[0.0, 0.0]]
    enc.encode(np.zeros((1, 2)))  # fast path: no record at all
    assert enc.decode(np.array([[0.0, 0.0]])).dtype == np.float64


# ---------------------------------------------------------------- fatal inputs


def _raise(*_):
    raise LookupError("cell unavailable")


@pytest.mark.parametrize(
    "bad",
    [
        lambda: np.zeros(3),
        lambda: np.array(["a", "b"], dtype=object),
        lambda: np.zeros((2, 2, 2)),
        lambda: np.zeros((2, 2, 2), dtype=object),
        lambda: named("ndarray"),
        lambda: named("ndarray", shape=(-1, 2)),
        lambda: named("ndarray", shape=(1.0, 2)),
        lambda: named("ndarray", shape=[1, 2, 3]),
        lambda: named("ndarray", shape=(1, 1), __getitem__=_raise),
    ],
    ids=["1d-float", "1d-object", "3d-float", "3d-object", "no-shape", "negative-shape",
         "float-shape", "triple-shape", "getitem-raises"],
)
@pytest.mark.parametrize("method", ["encode", "decode"])
def test_fatal_inputs_raise_panic_and_release_the_instance(enc, method, bad):
    raises_panic(getattr(enc, method), bad())
    assert enc.encode(column(["b", "a"])).tolist() == [[1.0], [0.0]]
    assert enc.decode(np.array([[1.0]])).tolist() == [["b"]]


def test_str_failure_is_a_panic_with_its_context(enc):
    e = raises_panic(enc.encode, str_raises_cell())
    assert str(e).startswith("cant convert to str")
    assert "no text either" in str(e)


# Shapes that fit the machine's word and whose cells would not fit its memory.
WORD = sys.maxsize.bit_length() + 1


@pytest.mark.parametrize("shape", [(2 ** (WORD // 2 + 8),) * 2, (2 ** (WORD - 3), 2), (2 ** (WORD - 4), 1),
                                   (1, 2 ** (WORD - 4))])
def test_oversized_shape_is_capacity_overflow(enc, shape):
    e = raises_panic(enc.encode, named("ndarray", shape=shape, __getitem__=_raise))
    assert str(e) == "capacity overflow"
