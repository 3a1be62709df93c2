"""Hostile inputs: lying arrays and frames, unprintable cells, duplicated or miscounted names."""

import gc
import signal
import sys
import textwrap

import numpy as np
import pandas as pd
import pytest

import tarnix
from conftest import column, named, obj_array, raises_panic, run_python

FRUIT = column(["pear", "apple"])


def _raiser(exc):
    def fail(*_):
        raise exc

    return fail


def frame(columns, shape, values):
    return named("DataFrame", columns=columns, shape=shape, values=values)


def arr(shape, getitem):
    return named("ndarray", shape=shape, __getitem__=lambda self, key: getitem(key))


def relabelled(values, dtype, name):
    """A real array subclass bearing an accepted name, whose item access prefixes each cell."""
    def getitem(self, key):
        return f"L{np.ndarray.__getitem__(self, key)}"

    return np.array(values, dtype).view(type(name, (np.ndarray,), {"__getitem__": getitem}))


def names_by_tolist(method):
    """A frame whose column labels are no str sequence and whose `tolist` runs `method`."""
    return frame(named("Index", tolist=method), (1, 2), np.zeros((1, 2)))


class HalfIterable(list):
    """A list of names whose iteration breaks after the first one."""

    def __iter__(self):
        yield self[0]
        raise KeyError("iteration broke")


# (input factory, expected): a PanicException naming the Python error that caused it, or an
# ordinary exception with a message prefix, or the encoded values.
LYING = {
    "shape-raises": (lambda: named("ndarray", shape=property(_raiser(ZeroDivisionError()))),
                     ("panic", "ZeroDivisionError")),
    "shape-list": (lambda: arr([1, 1], lambda k: 1.0), ("panic", "")),
    "shape-beyond-u64": (lambda: arr((2**64, 1), lambda k: 1.0), ("panic", "OverflowError")),
    "cell-is-a-tuple": (lambda: arr((2, 1), lambda k: k), ("ok", [[0.0], [1.0]])),
    "cell-is-none": (lambda: arr((2, 1), lambda k: None), ("ok", [[0.0], [0.0]])),
    "cell-is-an-array": (lambda: arr((2, 1), lambda k: np.array([k[0]] * 2)),
                         ("ok", [[0.0], [1.0]])),
    "cell-is-a-0d-array": (lambda: arr((2, 1), lambda k: np.array(k[0] + 0.5)),
                           ("ok", [[0.5], [1.5]])),
    # real arrays of another dtype are read through their own item access
    "ndarray-subclass": (lambda: relabelled([[2, 1], [1, 2]], np.int32, "ndarray"),
                         ("ok", [[1.0, 0.0], [0.0, 1.0]])),
    "memmap-subclass": (lambda: relabelled([[9, 10]], np.int8, "memmap"), ("ok", [[0.0, 0.0]])),
    "values-raise": (lambda: frame(["a"], (1, 1), property(_raiser(ZeroDivisionError()))),
                     ("panic", "ZeroDivisionError")),
    "values-none": (lambda: frame(["a"], (1, 1), None), ("panic", "TypeError")),
    "values-fewer-rows": (lambda: frame(["a", "b"], (3, 2), np.ones((2, 2), np.int64)),
                          ("panic", "IndexError")),
    "values-fewer-cols": (lambda: frame(["a", "b"], (2, 2), np.ones((2, 1))),
                          ("panic", "IndexError")),
    "values-fewer-cols-object": (lambda: frame(["a", "b"], (2, 2), np.ones((2, 1), object)),
                                 ("panic", "IndexError")),
    "values-one-dim": (lambda: frame(["a", "b"], (1, 2), np.array([1, 2], object)),
                       ("panic", "IndexError")),
    "values-larger": (lambda: frame(["a"], (1, 1), np.array([[7, 8], [9, 10]])), ("ok", [[7.0]])),
    "values-three-dim": (lambda: frame(["a", "b"], (2, 2), np.arange(8.0).reshape(2, 2, 2)[::-1]),
                         ("ok", [[1.0, 1.0], [0.0, 0.0]])),
    "tolist-gives-str": (lambda: names_by_tolist(lambda s: "ab"), (TypeError, "")),
    "tolist-gives-iterator": (lambda: names_by_tolist(lambda s: iter([1, 2])), (TypeError, "")),
    "tolist-raises": (lambda: names_by_tolist(_raiser(LookupError("no list"))),
                      (LookupError, "no list")),
    "names-iteration-breaks": (lambda: frame(HalfIterable(["a", "b"]), (1, 2), np.zeros((1, 2))),
                               (AttributeError, "")),
    "fewer-names-than-columns": (lambda: frame(["a"], (1, 2), obj_array([[1, "x"]])),
                                 (ValueError, "")),
    "more-names-than-columns": (lambda: frame(["a", "b", "c"], (1, 2), obj_array([[1, "x"]])),
                                (ValueError, "")),
    "huge-name-list": (lambda: frame([f"c{i}" for i in range(100_000)], (1, 2), np.zeros((1, 2))),
                       (ValueError, "")),
    "wide-frame": (lambda: pd.DataFrame([range(5000)], columns=[f"c{i}" for i in range(5000)]),
                   ("ok", [[float(i) for i in range(5000)]])),
}


@pytest.mark.parametrize("case", LYING)
def test_lying_arrays_and_frames(capfd, case):
    make, (kind, detail) = LYING[case]
    enc = tarnix.Encoder()
    enc.encode(FRUIT)
    capfd.readouterr()
    if kind == "panic":
        assert detail in str(raises_panic(enc.encode, make()))
    elif kind == "ok":
        out = enc.encode(make())
        assert np.asarray(out, dtype=np.float64).tolist() == detail
    else:
        with pytest.raises(kind) as info:
            enc.encode(make())
        assert str(info.value).startswith(detail)
    if kind not in ("ok", ValueError):  # failed before output construction: the record stays
        assert enc.decode(np.array([[1.0], [0.0]])).tolist() == [["pear"], ["apple"]]
    assert capfd.readouterr().out == ""


WORD = sys.maxsize.bit_length() + 1  # bits of the machine's word


@pytest.mark.parametrize("shape", [(2 ** (WORD - 1) + 1, 2), (2, 2 ** (WORD - 1) + 1),
                                   (2 ** (WORD // 2) + 1, 2 ** (WORD // 2) - 1)])
def test_overflowing_cell_count_is_refused_before_any_read(shape):
    reads = []
    e = raises_panic(tarnix.Encoder().encode, arr(shape, lambda k: reads.append(k) or 1.0))
    assert str(e) == "capacity overflow" and reads == []


# A size an input claims is only a hint: a huge one must neither be allocated up front nor matter.
CLAIMS = {
    "name-count": """
        class Names(list):
            def __len__(self):
                return HINT
        for hint in (2**40, 2**62, 2**63 - 1):
            HINT = hint
            frame = type("DataFrame", (), dict(columns=Names(["a", "b"]), shape=(1, 2),
                                               values=np.array([[1, "x"]], dtype=object)))()
            out = tarnix.Encoder().encode(frame)
            assert list(out.columns) == ["a", "b"], out
    """,
    # the rows past the second do not exist: a fatal error, and the record stays
    "row-count": """
        def cell(key):
            if key[0] >= 2:
                raise IndexError(key)
            return "x"
        enc = tarnix.Encoder()
        encoded = enc.encode(np.array([["pear"], ["apple"]], dtype=object))
        liar = type("ndarray", (), dict(shape=(2**40, 1), __getitem__=lambda s, k: cell(k)))()
        try:
            enc.encode(liar)
        except BaseException as e:
            assert type(e).__name__ == "PanicException", repr(e)
        else:
            raise AssertionError("encoded")
        assert enc.decode(encoded).tolist() == [["pear"], ["apple"]]
    """,
}


@pytest.mark.parametrize("case", CLAIMS)
def test_claimed_sizes_are_only_hints(case):
    run_python("import numpy as np, tarnix\n" + textwrap.dedent(CLAIMS[case]) + "print('ok')")


# ---------------------------------------------------------------- hostile cells


def printing(text, convert=_raiser(TypeError("not a number"))):
    """A cell whose float conversion runs `convert` and whose str() runs `text`."""
    return named("Cell", __float__=lambda self: convert(), __str__=lambda self: text())


LyingStr = type("LyingStr", (str,), {"__str__": lambda self: "lie"})
NumericStr = type("NumericStr", (str,), {"__float__": lambda self: 2.5})


def index(value):
    return named("Index", __index__=lambda self: value, __str__=lambda self: "idx")


@pytest.mark.parametrize(
    "bad, cause",
    [(printing(lambda: 5), "TypeError"), (printing(lambda: b"x"), "TypeError"),
     (printing(lambda: None), "TypeError"), (printing(_raiser(ValueError())), "ValueError")],
    ids=["str-gives-int", "str-gives-bytes", "str-gives-none", "str-raises"],
)
@pytest.mark.parametrize("method", ["encode", "decode"])
def test_unprintable_cell_is_a_str_panic(method, bad, cause):
    enc = tarnix.Encoder()
    enc.encode(FRUIT)
    e = raises_panic(getattr(enc, method), column(["a", bad]))
    assert str(e).startswith("cant convert to str") and cause in str(e)
    assert enc.decode(np.array([[1.0]])).tolist() == [["pear"]]


def interrupt():
    signal.raise_signal(signal.SIGINT)  # Ctrl+C: the default handler raises KeyboardInterrupt


def stopping_output(fire, monkeypatch):
    """A frame whose result is built by pandas calls that run `fire`."""
    src = pd.DataFrame({"s": ["b", "a"]})
    for name in ("DataFrame", "RangeIndex"):
        monkeypatch.setattr(pd, name, lambda *args, **kwargs: fire())
    return src


# Python code a cell (or pandas, building the result) runs may stop the program: that is never
# "not a number" nor a fatal error.
@pytest.mark.parametrize("method", ["encode", "decode"])
@pytest.mark.parametrize("stop, fire", [(KeyboardInterrupt, interrupt), (SystemExit, sys.exit)],
                         ids=["ctrl-c", "exit"])
@pytest.mark.parametrize("where", ["float", "str", "item-access", "output"])
def test_interrupts_reach_the_caller(monkeypatch, where, stop, fire, method):
    src = {"float": lambda: column([1.0, printing(lambda: "c", fire)]),
           "str": lambda: column(["a", printing(fire)]),
           "item-access": lambda: arr((2, 1), lambda k: fire() if k[0] else "a"),
           "output": lambda: stopping_output(fire, monkeypatch)}[where]()
    enc = tarnix.Encoder()
    enc.encode(FRUIT)
    handler = signal.signal(signal.SIGINT, signal.default_int_handler)
    try:
        with pytest.raises(stop):
            getattr(enc, method)(src)
    finally:
        signal.signal(signal.SIGINT, handler)
    assert enc.decode(np.array([[1.0], [0.0]])).tolist() == [["pear"], ["apple"]]


@pytest.mark.parametrize(
    "cells, labels",
    [
        (["a", LyingStr("z")], ["a", "lie"]),  # str() is asked even of a str subclass
        ([NumericStr("z"), 1], [2.5, 1.0]),  # a str subclass that converts is a number
        (["a", NumericStr("z")], ["a", "z"]),
        ([1.5, printing(lambda: "vf", _raiser(ValueError()))], ["1.5", "vf"]),  # any error: text
        ([1.5, printing(lambda: "zd", lambda: 1 / 0)], ["1.5", "zd"]),
        ([1.5, printing(lambda: "nf", lambda: "not a float")], ["1.5", "nf"]),
        ([index(7), 1.5], [7.0, 1.5]),
        ([index(10**400), 1.5], ["idx", "1.5"]),
        ([1, 10**400], ["1", "1" + "0" * 400]),
        ([np.float16(0.1), "x"], ["0.0999755859375", "x"]),
    ],
    ids=["lying-str", "numeric-str", "numeric-str-after-text", "float-value-error",
         "float-zero-division", "float-gives-str", "index", "index-overflows", "huge-int",
         "float16"],
)
def test_cells_that_convert_oddly(enc, cells, labels):
    assert enc.decode(enc.encode(column(cells)))[:, 0].tolist() == labels


@pytest.mark.parametrize("hook, first", [("str", "m"), ("float", "1")])
def test_cells_that_rewrite_the_table_while_it_is_read(enc, hook, first):
    table = np.empty((2, 2), dtype=object)

    def rewrite():
        table[1, 0] = "".join(["re", "placed"])  # the cells replaced lose their last reference
        table[0, 1] = "".join(["new", "cell"])
        table[1, 1] = 7.5
        gc.collect()
        return "m"

    table[0, 0] = printing(rewrite) if hook == "str" else named(
        "Cell", __float__=lambda self: rewrite() and 1.0)
    for r, c in [(1, 0), (0, 1), (1, 1)]:
        table[r, c] = printing(lambda: "".join(["old"] * 3))
    # cells are read column by column, so later reads see what the callback wrote
    assert enc.decode(enc.encode(table)).tolist() == [[first, "newcell"], ["replaced", "7.5"]]


@pytest.mark.parametrize("route", ["frame", "item-access"])
@pytest.mark.parametrize("rows", [10, 600])  # tall frames are read column by column
def test_number_is_taken_before_a_later_cell_rewrites_it(rows, route):
    def rewrite():
        df.iloc[0, 0] = 99.0
        return "a"

    df = pd.DataFrame({"n": np.arange(rows, dtype=np.float64),
                       "s": pd.Series([printing(rewrite)] + ["b"] * (rows - 1), dtype=object)})
    live = arr(df.shape, lambda k: df.iat[k])  # every cell read from the frame when asked for
    out = tarnix.Encoder().encode(df if route == "frame" else frame(df.columns, df.shape, live))
    assert out.iloc[0].tolist() == [0.0, 0.0]


# ---------------------------------------------------------------- duplicated column names


def test_duplicated_names_encode_by_position(enc):
    rows = [["b", "x", 1.0, 5], ["a", "y", 2.0, 6]]
    dup = enc.encode(pd.DataFrame(rows, columns=["k", "k", "n", "n"]))
    unique = tarnix.Encoder().encode(pd.DataFrame(rows, columns=["k1", "k2", "n1", "n2"]))
    assert list(dup.columns) == ["k", "k", "n", "n"]
    assert dup.to_numpy().tolist() == unique.to_numpy().tolist() == [[1, 0, 1, 5], [0, 1, 2, 6]]


TEXT_AND_NUMBER = pd.DataFrame({"s": ["b", "a"], "n": [1.0, 2.0]})


def renamed(table):
    """The same table with unique column names."""
    names = [f"c{i}" for i in range(len(table.columns))]
    if isinstance(table, pd.DataFrame):
        return table.set_axis(names, axis=1)
    return frame(names, table.shape, table.values)


@pytest.mark.parametrize(
    "encoded, decoded",
    [
        (pd.DataFrame([["a", "x"], ["b", "y"]], columns=["k", "k"]), None),
        (TEXT_AND_NUMBER, pd.DataFrame([[0.0, 1.0]], columns=["s", "s"])),
        (TEXT_AND_NUMBER, pd.DataFrame([[0.0, 1.0, 1.0]], columns=["s", "n", "s"])),
        (TEXT_AND_NUMBER[["n", "s"]], pd.DataFrame([[1.0, 0.0, 1.0]], columns=["n", "s", "s"])),
        (pd.DataFrame([["a", 1.0]]), pd.DataFrame([[0.0, 1.0]], columns=[0, 0])),
        (TEXT_AND_NUMBER, frame(["s", "s"], (1, 2), np.zeros((1, 2)))),
    ],
    ids=["own-output", "both", "first-and-last", "after-the-first", "integer-names", "user-frame"],
)
def test_duplicated_names_decode_by_position(enc, encoded, decoded):
    out = enc.encode(encoded)
    src = out if decoded is None else decoded
    got = enc.decode(src)
    expected = enc.decode(renamed(src))
    assert [str(name) for name in got.columns] == [str(name) for name in src.columns]
    assert got.to_numpy(dtype=object).tolist() == expected.to_numpy(dtype=object).tolist()
    assert list(got.dtypes) == list(expected.dtypes)


def test_duplicated_name_of_an_unrecorded_column_decodes(enc):
    enc.encode(TEXT_AND_NUMBER)
    out = enc.decode(pd.DataFrame([[1.0, 7.0, 8.0]], columns=["s", "n", "n"]))
    assert out.to_numpy(dtype=object).tolist() == [["b", 7.0, 8.0]]
