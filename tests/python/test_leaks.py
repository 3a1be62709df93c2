"""Repeated calls on every input kind and every error path keep references and memory flat."""

import ctypes
import gc
import sys
import tempfile
import tracemalloc

import numpy as np
import pandas as pd
import pytest

import tarnix
from conftest import column, named, obj_array, run_python


def _mallinfo2():
    class MallInfo2(ctypes.Structure):
        names = "arena ordblks smblks hblks hblkhd usmblks fsmblks uordblks fordblks keepcost"
        _fields_ = [(n, ctypes.c_size_t) for n in names.split()]

    try:
        fn = ctypes.CDLL(None).mallinfo2
    except (AttributeError, OSError):
        return None
    fn.restype = MallInfo2
    return fn


MALLINFO2 = _mallinfo2()


def native_heap():
    """Bytes that the C allocator has handed out and not got back (every thread's arena)."""
    if MALLINFO2 is None:
        with open("/proc/self/statm") as f:  # resident set size as a coarse stand-in
            return int(f.read().split()[1]) * 4096
    info = MALLINFO2()
    return info.uordblks + info.hblkhd


def python_heap_here():
    """Live Python allocations made in this file's frames (or by native code called from them)."""
    # the interpreter's attribute cache keeps the names last looked up alive
    getattr(sys, "_clear_internal_caches", sys._clear_type_cache)()
    gc.collect()
    snapshot = tracemalloc.take_snapshot().filter_traces([tracemalloc.Filter(True, __file__)])
    return sum(stat.size for stat in snapshot.statistics("filename"))


def growth_after(call, n, measure):
    """How much `measure()` grows over n calls that follow n others: a leak shows n times over,
    while what the first calls cost once (caches, allocator and interpreter bookkeeping) is left
    behind in the first n."""
    for _ in range(n):
        call()
    before = measure()
    for _ in range(n):
        call()
    return measure() - before


def settled_native_heap():
    gc.collect()
    return native_heap()


# The most either heap may grow over the measured calls, whatever their number.
PYTHON_SLACK = 1024
NATIVE_SLACK = 4 * 1024 if MALLINFO2 is not None else 8 * 1024 * 1024


def allowed_drift(obj, n):
    """None, True and False are immortal from 3.12 on; on 3.11 their counts
    move with whatever else the interpreter does: there only a change of one
    per call or more is a leak."""
    return n - 1 if sys.version_info < (3, 12) and any(obj is s for s in (None, True, False)) else 0


def assert_flat(call, watched, n):
    for _ in range(10):  # caches, interned names and imports settle first
        call()
    gc.collect()
    counts = [sys.getrefcount(o) for o in watched]
    native_growth = growth_after(call, n, settled_native_heap)
    drift = [abs(after - before) for after, before in zip([sys.getrefcount(o) for o in watched], counts)]
    assert all(d <= allowed_drift(o, n) for o, d in zip(watched, drift)), (counts, drift)
    tracemalloc.start()
    try:
        python_growth = growth_after(call, n, python_heap_here)
    finally:
        tracemalloc.stop()
    assert python_growth < PYTHON_SLACK, f"Python heap grew by {python_growth} bytes over {n} calls"
    assert native_growth < NATIVE_SLACK, f"native heap grew by {native_growth} bytes over {n} calls"


def quiet(fn, arg):
    def call():
        try:
            fn(arg)
        except BaseException as e:  # PanicException included
            if isinstance(e, (AssertionError, KeyboardInterrupt)):
                raise

    return call


def text(i):
    return "".join(["label-", str(i), "-" * 12])  # a fresh str that owns heap memory


def cell(convert, printed):
    """A cell whose float conversion runs `convert` and whose str() runs `printed`."""
    return named("Cell", __float__=lambda self: convert(), __str__=lambda self: printed())


def no_number():
    raise ValueError("not a number")


def no_text():
    raise KeyError("no text")


def wide_table(rows, cols):
    table = np.empty((rows, cols), dtype=object)
    for r in range(rows):
        for c in range(cols):
            table[r, c] = text(r * cols + c) if c % 2 == 0 else float(r) + 0.25
    return table


def cases(enc):
    """name -> (input, objects whose reference counts must not change, calls)."""
    cells = [text(1), float(2**60) + 0.5, 10**30, True, None, np.float32(1.5),
             cell(no_number, lambda: text("nf")), text(2)]
    mixed = obj_array([cells[:4], cells[4:]])
    labels = [text("a"), text("b"), text("c"), text("d")]
    frame = pd.DataFrame({
        labels[0]: pd.array([text(3), None], dtype="string"),
        labels[1]: pd.array([7, None], dtype="Int64"),
        labels[2]: pd.Categorical([text(4), text(4)]),
        labels[3]: pd.Series([cells[0], cells[2]], dtype=object),
    })
    int_names = [10**9, 10**9 + 1]
    mm = np.memmap(tempfile.TemporaryFile(), dtype=np.int32, mode="w+", shape=(3, 2))
    reenter = named("Reenter", __float__=lambda self: reenter_calls(enc, mixed))
    return {
        "object": (mixed, cells, 200),
        "object-large": (wide_table(2000, 4), [], 20),
        "int64": (np.arange(12, dtype=np.int64).reshape(3, 4), [], 200),
        "float64": (np.linspace(0, 1, 12).reshape(3, 4)[:, ::2], [], 200),
        "big-endian": (np.ones((2, 3), ">f8"), [], 200),
        "unicode": (np.array([["ab", "nan"], ["c", "ab"]], "<U4"), [], 200),
        "memmap": (mm, [], 200),
        "frame": (frame, labels + cells[:1], 60),
        "frame-int-names": (pd.DataFrame([[cells[0], 1.0]], columns=int_names), int_names, 60),
        "user-ndarray": (named("ndarray", shape=(1, 2), __getitem__=lambda s, k: cells[k[1]]),
                         cells[:2], 200),
        "user-frame": (named("DataFrame", columns=labels[:2], shape=(2, 2), values=mixed),
                       labels[:2] + cells, 100),
        "refused": (cells[:3], cells[:3], 200),
        "names-not-int": (pd.DataFrame([[1.0, 2.0]], columns=[labels[0], 10**9]), labels[:1], 100),
        "names-overflow": (pd.DataFrame([[1.0]], columns=[2**63]), [], 100),
        "one-dim": (np.array(cells, dtype=object), cells, 200),
        "shape-overflow": (named("ndarray", shape=(2**62, 4)), [], 200),
        "item-access-raises": (named("ndarray", shape=(1, 1), __getitem__=lambda s, k: {}[k]),
                               [], 200),
        "str-raises": (column([cells[0], cell(no_number, no_text)]), cells[:1], 200),
        "str-not-str": (column([cells[0], cell(no_number, lambda: 42)]), cells[:1], 200),
        "name-count-mismatch": (named("DataFrame", columns=labels[:3], shape=(2, 2), values=mixed),
                                labels[:3], 100),
        "narrower-than-record": (obj_array([[cells[0]]]), cells[:1], 200),
        "duplicated-name": (pd.DataFrame([[0.0, 1.0]], columns=[labels[0]] * 2), labels[:1], 60),
        "hold-conflicts": (column([reenter]), [mixed] + cells, 100),
    }


def reenter_calls(enc, target):
    for op in (enc.encode, enc.decode):  # encode is refused, decode only inside an encode
        try:
            op(target)
        except RuntimeError:
            pass
    return 1.0


@pytest.mark.parametrize("method", ["encode", "decode"])
@pytest.mark.parametrize("case", list(cases(None)))
def test_repeated_calls_leak_nothing(capfd, case, method):
    enc = tarnix.Encoder()
    src, watched, n = cases(enc)[case]
    # a record over three columns with a text first column, wider than some inputs
    enc.encode(pd.DataFrame({"a": ["x", "y"], "b": [1, 2], "c": ["p", "q"]}))
    watched = [src, type(src), tarnix.Encoder, *watched]
    assert_flat(quiet(getattr(enc, method), src), watched, n)
    capfd.readouterr()  # drop the refusal lines and fatal-error reports


def test_instances_leak_nothing():
    table = obj_array([[text(1), 1.0]])

    def call():
        enc = tarnix.Encoder()
        enc.decode(enc.encode(table))

    assert_flat(call, [table, table[0, 0], tarnix.Encoder], 300)


def test_text_keeps_its_size(enc):
    # no UTF-8 copy may be left cached inside a str that is not ASCII (cells and column names)
    texts = ["é" * 50 + str(i) for i in range(600)] + ["日本" * 30, "\U0001f600" * 9, "a\ud800b"]
    name = "".join(["é"] * 20)
    frame = pd.DataFrame({name: pd.Series(texts, dtype=object)})  # tall: read by columns
    sizes = [sys.getsizeof(t) for t in texts + [name]]  # (pandas may cache a name's UTF-8 itself)
    enc.encode(column(texts))
    enc.decode(column(texts))
    enc.encode(frame)
    assert [sys.getsizeof(t) for t in texts + [name]] == sizes


# input -> the most the peak resident set may grow while it is encoded, in MB: memory follows the
# distinct text, never the number of cells or columns
PEAK = {
    "no-rows-many-columns": ("np.empty((0, 10**7), dtype=object)", 200),
    "no-rows-huge-column-count": ("np.empty((0, min(2**40, sys.maxsize // 64)), object)", 200),
    # one copy of the text while the cells are read, one in the record
    "one-long-str-in-many-cells": ("np.array([['x' * 20_000_000]] * 40, dtype=object)", 50),
    "equal-long-strs": ("np.array([[''.join(['y', 'z' * 5_000_000])] for _ in range(40)], object)",
                        100),
}


@pytest.mark.parametrize("case", PEAK)
def test_peak_memory_follows_distinct_text(case):
    src, limit = PEAK[case]
    run_python(f"""
        import resource, sys, numpy as np, tarnix
        def peak_mb():
            return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024
        src = {src}
        before = peak_mb()
        enc = tarnix.Encoder()
        out = enc.encode(src)
        grown = peak_mb() - before
        assert grown < {limit}, f"peak grew by {{grown:.0f}} MB"
        assert out.shape == src.shape and out.dtype == np.float64 and (out == 0).all(), out
        assert (enc.decode(out) == src).all()
        print("ok")
    """)
