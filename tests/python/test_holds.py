"""Holds on an instance (re-entrant and cross-thread calls) and reference release on every path."""

import sys
import threading

import numpy as np
import pandas as pd
import pytest

from conftest import assert_refs_stable, column, obj_array

BORROWED = "Already borrowed"
MUTABLY = "Already mutably borrowed"


class Reenter:
    """A cell that, when read, calls `op` on the encoder and records what happened."""

    def __init__(self, enc, op, hook):
        self.enc, self.op, self.hook = enc, op, hook
        self.error = self.result = None

    def _call(self):
        target = np.array([[0.0]])
        try:
            self.result = getattr(self.enc, self.op)(target)
        except RuntimeError as e:
            self.error = str(e)

    def __float__(self):
        if self.hook == "float":
            self._call()
            return 5.0
        raise TypeError("not a number")

    def __str__(self):
        self._call()
        return "q"


@pytest.mark.parametrize("hook", ["float", "str"])
@pytest.mark.parametrize(
    "outer, inner, error",
    [("encode", "encode", BORROWED), ("encode", "decode", MUTABLY),
     ("decode", "encode", BORROWED), ("decode", "decode", None)],
)
def test_reentrant_calls(enc, outer, inner, error, hook):
    enc.encode(column(["p", "q"]))
    cell = Reenter(enc, inner, hook)
    out = getattr(enc, outer)(obj_array([[cell, "z"]]))
    assert cell.error == error
    if error is None:
        assert cell.result.tolist() == [["p"]]
    # the cell reads as 5.0 or as the label "q"
    value = {("encode", "float"): 5.0, ("encode", "str"): 0.0,
             ("decode", "float"): "NaN", ("decode", "str"): "p"}[outer, hook]
    assert out.tolist() == [[value, 0.0]]
    assert enc.encode(column(["b", "a"])).tolist() == [[1.0], [0.0]]


class Blocker:
    """A text cell whose str() waits, with the hold taken, until released."""

    def __init__(self):
        self.entered, self.release = threading.Event(), threading.Event()

    def __float__(self):
        raise TypeError("not a number")

    def __str__(self):
        self.entered.set()
        self.release.wait(timeout=30)  # waits without the GIL
        return "b"


def conflict(call, *args):
    try:
        call(*args)
    except RuntimeError as e:
        return str(e)
    return None


@pytest.mark.threads
@pytest.mark.parametrize("blocked, decode_error", [("encode", MUTABLY), ("decode", None)])
def test_cross_thread_conflicts_fail_at_once(enc, blocked, decode_error):
    enc.encode(column(["x", "y"]))
    cell, results = Blocker(), []
    worker = threading.Thread(
        target=lambda: results.append(getattr(enc, blocked)(obj_array([[cell], ["a"]]))))
    worker.start()
    try:
        assert cell.entered.wait(timeout=30)
        assert conflict(enc.decode, np.array([[1.0]])) == decode_error
        assert conflict(enc.encode, np.array([[1.0]])) == BORROWED
        assert worker.is_alive()
    finally:
        cell.release.set()
        worker.join(timeout=30)
    assert results[0].tolist() == ([[1.0], [0.0]] if blocked == "encode" else [["y"], ["x"]])
    assert enc.decode(np.array([[0.0]])).tolist() == [["a" if blocked == "encode" else "x"]]
    assert enc.encode(np.array([[1.0]])).tolist() == [[1.0]]


# ---------------------------------------------------------------- reference release


def fresh(i):
    return "".join(["cell", str(i)])


def swallow(fn, *args):
    def call():
        try:
            fn(*args)
        except BaseException as e:  # PanicException included
            if isinstance(e, (AssertionError, KeyboardInterrupt)):
                raise

    return call


class StrRaises:
    def __float__(self):
        raise TypeError("not a number")

    def __str__(self):
        raise ValueError("no text")


def leak_cases(enc):
    cells = [fresh(1), float(10**6) + 0.5, fresh(2), 10**9, fresh(3), True]
    arr = obj_array([cells[:3], cells[3:]])
    labels = [fresh("a"), fresh("b"), fresh("c")]
    df = pd.DataFrame({labels[0]: pd.Series(cells[:2], dtype=object),
                       labels[1]: [fresh(4), fresh(5)], labels[2]: [1.5, 2.5]})
    int_labels = [10**7, 10**7 + 1]
    int_df = pd.DataFrame([[fresh(6), 1.0]], columns=int_labels)
    bad_labels = [fresh("d"), 10**8]
    bad_df = pd.DataFrame([[1.0, 2.0]], columns=bad_labels)
    listed = [fresh(7), float(3**30)]
    raising = StrRaises()
    panic_arr = column([cells[0], raising])
    flat = np.array(cells, dtype=object)
    floats = np.arange(6.0).reshape(2, 3)
    return {
        "encode-array": (swallow(enc.encode, arr), arr, *cells),
        "decode-array": (swallow(enc.decode, arr), arr, *cells),
        "encode-frame": (swallow(enc.encode, df), df, *labels, *cells[:2]),
        "decode-frame": (swallow(enc.decode, df), df, *labels, *cells[:2]),
        "int-labels": (swallow(enc.decode, int_df), int_df, *int_labels),
        "bad-labels": (swallow(enc.encode, bad_df), bad_df, *bad_labels),
        "refused": (swallow(enc.encode, listed), listed, *listed),
        "str-panic": (swallow(enc.encode, panic_arr), panic_arr, raising, cells[0]),
        "shape-panic": (swallow(enc.decode, flat), flat, *cells),
        "fast-path": (swallow(enc.decode, floats), floats),
        "narrow-decode": (swallow(enc.decode, obj_array([[cells[0]]])), cells[0]),
    }


CASES = ["encode-array", "decode-array", "encode-frame", "decode-frame", "int-labels",
         "bad-labels", "refused", "str-panic", "shape-panic", "fast-path", "narrow-decode"]


@pytest.mark.parametrize("case", CASES)
def test_references_are_released(enc, case):
    enc.encode(obj_array([[1, 2, "x"]]))  # a record whose column 2 is wider than some inputs
    call, *objs = leak_cases(enc)[case]
    assert_refs_stable(call, *objs, n=200)


def test_refused_hold_releases_references(enc):
    target = obj_array([[fresh(8), float(7**20)]])
    objs = (target, target[0, 0], target[0, 1])
    counts = {}

    class Probe:
        def __float__(self):
            for op in ("encode", "decode"):
                call = swallow(getattr(enc, op), target)
                call()
                before = [sys.getrefcount(o) for o in objs]
                for _ in range(200):
                    call()
                counts[op] = (before, [sys.getrefcount(o) for o in objs])
            return 0.0

    enc.encode(column([Probe()]))
    assert set(counts) == {"encode", "decode"}
    for before, after in counts.values():
        assert after == before
