"""Shared fixtures and helpers for the tarnix Python tests."""

import math
import struct
import subprocess
import sys
import textwrap

import numpy as np
import pandas as pd
import pytest

import tarnix

MISSING_LABELS = ("nan", "NaN", "<NA>")


@pytest.fixture
def enc():
    return tarnix.Encoder()


def bits(a):
    """The raw 64-bit patterns of a float64 array (NaN payloads and -0.0 included)."""
    return np.ascontiguousarray(np.asarray(a, dtype=np.float64)).view(np.uint64)


def obj_array(rows):
    """A 2-D object array that keeps every cell exactly as given."""
    out = np.empty((len(rows), len(rows[0]) if rows else 0), dtype=object)
    for r, row in enumerate(rows):
        for c, cell in enumerate(row):
            out[r, c] = cell
    return out


def column(cells):
    """A one-column object array."""
    return obj_array([[c] for c in cells])


def named(name, **attrs):
    """An instance of a fresh class called `name` carrying the given class attributes."""
    return type(name, (), attrs)()


def raises_panic(fn, *args):
    """Run fn(*args), which must end in the module's PanicException; return the exception."""
    try:
        fn(*args)
    except BaseException as e:  # PanicException derives from BaseException only
        if type(e).__name__ != "PanicException":
            raise
        assert not isinstance(e, Exception)
        return e
    pytest.fail("no PanicException raised")


def run_python(code, runs=1):
    """Runs `code` in `runs` fresh interpreters at once; each must exit normally printing "ok"."""
    cmd = [sys.executable, "-c", textwrap.dedent(code)]
    procs = [subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
             for _ in range(runs)]
    try:
        for proc in procs:
            out, err = proc.communicate(timeout=120)
            assert (proc.returncode, out) == (0, "ok\n"), f"exit {proc.returncode}: {err[-2000:]}"
    finally:
        for proc in procs:
            proc.kill()  # nothing to do for those that have exited


def positional(x):
    """How a number read before a column's first text cell is rendered as a label."""
    if math.isnan(x):
        return "NaN"
    return np.format_float_positional(x, unique=True, trim="-")


def codes_of(labels):
    """Dense codes by byte order of the distinct ordinary labels; NaN for missing labels."""
    ordinary = sorted({l for l in labels if l not in MISSING_LABELS}, key=lambda s: s.encode())
    rank = {l: float(i) for i, l in enumerate(ordinary)}
    return [rank.get(l, math.nan) for l in labels]


def assert_refs_stable(call, *objs, n=300):
    """Repeating `call` n times leaves the reference counts of `objs` as they were."""
    call()  # let caches (imports, interned names) settle first
    before = [sys.getrefcount(o) for o in objs]
    for _ in range(n):
        call()
    assert [sys.getrefcount(o) for o in objs] == before


# ---------------------------------------------------------------- hypothesis profiles
# The fuzz suite runs a few hundred examples per test locally and many more in CI.
import os  # noqa: E402

from hypothesis import HealthCheck, settings  # noqa: E402

settings.register_profile(
    "fuzz", max_examples=300, deadline=None,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])
settings.register_profile("fuzz-ci", parent=settings.get_profile("fuzz"), max_examples=1500,
                          print_blob=True)
settings.load_profile("fuzz-ci" if os.environ.get("CI") == "true" else "fuzz")


def fingerprint(out):
    """Kind, names, dtypes and every cell with its type; floats by their bits."""
    def cell(v):
        return ("f", struct.pack("<d", v)) if type(v) is float else (type(v).__name__, v)

    if isinstance(out, pd.DataFrame):
        head = ("frame", tuple(out.columns), tuple(str(t) for t in out.dtypes), tuple(out.index))
        values = out.to_numpy(dtype=object)
    else:
        head, values = ("array", out.dtype.str, out.shape), out
    return head + tuple(cell(v) for v in values.ravel().tolist())
