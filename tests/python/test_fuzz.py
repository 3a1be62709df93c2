"""Random tables of every kind of cell, as object arrays and DataFrames, against a model."""

import math

import numpy as np
import pandas as pd
import pytest
from hypothesis import given
from hypothesis import strategies as st

import tarnix
from conftest import MISSING_LABELS, bits, codes_of, column, positional

SURROGATES = st.sampled_from(["\ud800", "\udfff", "\udc80", "\ud83d\ude00"])
TEXT = st.one_of(
    st.text(max_size=6),
    st.sampled_from(["", "nan", "NaN", "<NA>", "None", "NAN", " nan", "é", "日本", "\U0001f600",
                     "10", "9", "-0", "inf", "1.0", "Z", "a"]),
    st.tuples(st.text(max_size=2), SURROGATES, st.text(max_size=2)).map("".join),
)
FLOATS = st.one_of(
    st.floats(), st.sampled_from([0.0, -0.0, math.nan, math.inf, -math.inf, 1e20, 5e-324]))
INTS = st.one_of(
    st.integers(-20, 20),
    st.integers(-(2**70), 2**70),
    st.sampled_from([2**53 + 1, 2**63, 2**64, 2**1023, 2**1024, -(2**1024), 10**400]),
)
NUMPY_NUMBER = st.one_of(
    FLOATS.map(np.float64),
    st.floats(width=32).map(np.float32),
    st.floats(width=16).map(np.float16),
    st.integers(-(2**63), 2**63 - 1).map(np.int64),
    st.integers(0, 2**64 - 1).map(np.uint64),
    st.booleans().map(np.bool_),
)
NUMBER = st.one_of(FLOATS, INTS, st.booleans(), NUMPY_NUMBER)
CELL = st.one_of(NUMBER, st.none(), TEXT, TEXT.map(np.str_))


@st.composite
def tables(draw):
    rows, cols = draw(st.integers(0, 50)), draw(st.integers(0, 8))
    table = np.empty((rows, cols), dtype=object)
    for c in range(cols):
        # each column repeats a few drawn cells; it leans numeric, textual or mixed
        kind = draw(st.sampled_from([NUMBER, TEXT, CELL]))
        vocabulary = draw(st.lists(kind, min_size=1, max_size=12))
        picks = draw(st.lists(st.integers(0, len(vocabulary) - 1), min_size=rows, max_size=rows))
        for r, i in enumerate(picks):
            table[r, c] = vocabulary[i]
    return table


def number_of(cell):
    """The double a cell converts to, or None when it does not convert."""
    if cell is None or isinstance(cell, (str, bytes)):
        return None
    try:
        return float(cell)
    except (TypeError, OverflowError):
        return None


def utf8_label(text):
    """A str's label: each lone surrogate becomes three replacement characters."""
    return text.encode("utf-8", "surrogatepass").decode("utf-8", "replace")


def expected_column(cells):
    """(values, labels) of one column; labels is None for a numeric column."""
    numbers = [number_of(c) for c in cells]
    first_text = next((i for i, x in enumerate(numbers) if x is None), None)
    if first_text is None:
        return numbers, None
    labels = [positional(x) for x in numbers[:first_text]]
    labels += [utf8_label(str(c)) for c in cells[first_text:]]
    return codes_of(labels), labels


def check(table, frame):
    enc = tarnix.Encoder()
    rows, cols = table.shape
    names = [f"c{i}" for i in range(cols)]
    src = pd.DataFrame(table, columns=names, dtype=object) if frame else table
    encoded = enc.encode(src)
    decoded = enc.decode(encoded)
    if frame:
        assert list(encoded.columns) == names and list(encoded.index) == list(range(rows))
        assert list(decoded.columns) == names
        matrix = encoded.to_numpy()
    else:
        matrix = encoded
    assert type(matrix) is np.ndarray and matrix.dtype == np.float64
    assert matrix.shape == (rows, cols)
    for c in range(cols):
        values, labels = expected_column(list(table[:, c]))
        assert (bits(matrix[:, c]) == bits(values)).all(), f"column {c}"
        got = decoded[names[c]].tolist() if frame else decoded[:, c].tolist()
        if labels is None:
            assert all(type(v) is float for v in got)
            assert (bits(got) == bits(values)).all(), f"column {c}"
        else:
            missing = None if frame else "NaN"
            assert got == [missing if l in MISSING_LABELS else l for l in labels], f"column {c}"


@pytest.mark.parametrize("frame", [False, True], ids=["array", "frame"])
@given(table=tables())
def test_random_tables(frame, table):
    check(table, frame)


def saturating_code(x):
    if x < 0:
        return 0
    if x > 18446744073709549568.0:
        return 2**64 - 1
    return int(x)


# Labels whose byte order Python's sort can reproduce (no lone surrogates).
PLAIN_TEXT = st.one_of(
    st.text(st.characters(exclude_categories=("Cs",)), max_size=4),
    st.sampled_from(["", "nan", "NaN", "<NA>", "None", "NAN", "Z", "a", "é", "10", "9", "日本"]),
)


@given(labels=st.lists(PLAIN_TEXT, min_size=1, max_size=8),
       values=st.lists(st.one_of(st.floats(), st.integers(-3, 10).map(float), st.floats(-1, 10)),
                       max_size=12))
def test_decode_of_any_value(labels, values):
    enc = tarnix.Encoder()
    enc.encode(column(labels))
    ordinary = sorted({l for l in labels if l not in MISSING_LABELS}, key=str.encode)
    decoded = enc.decode(np.array(values, dtype=np.float64).reshape(-1, 1))
    want = []
    for x in values:
        code = None if math.isnan(x) else saturating_code(x)
        want.append(ordinary[code] if code is not None and code < len(ordinary) else "NaN")
    assert decoded[:, 0].tolist() == want
