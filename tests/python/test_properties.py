"""Randomised round trips: encode then decode on mixed tables."""

import math

import numpy as np
import pandas as pd
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import tarnix
from conftest import MISSING_LABELS, bits, codes_of, column, positional

SETTINGS = settings(max_examples=200, deadline=None)

TEXT = st.one_of(
    st.text(st.characters(exclude_categories=("Cs",)), max_size=4),
    st.sampled_from(["", "nan", "NaN", "<NA>", "None", "NAN", "Z", "a", "é", "10", "9", "日本"]),
)
CELL = st.one_of(
    st.floats(),  # NaN, infinities and -0.0 included
    st.integers(-(2**53), 2**53),
    st.booleans(),
    TEXT,
)


@st.composite
def tables(draw):
    rows, cols = draw(st.integers(0, 12)), draw(st.integers(0, 5))
    # each column leans numeric or textual so that both kinds turn up often
    table = np.empty((rows, cols), dtype=object)
    for c in range(cols):
        cells = st.one_of(st.floats(), st.integers(-9, 9)) if draw(st.booleans()) else CELL
        for r in range(rows):
            table[r, c] = draw(cells)
    return table


def expected_column(cells):
    """(values, labels): labels is None for a numeric column."""
    first_text = next((i for i, c in enumerate(cells) if isinstance(c, str)), None)
    if first_text is None:
        return [float(c) for c in cells], None
    labels = [positional(float(c)) for c in cells[:first_text]]
    labels += [str(c) for c in cells[first_text:]]
    return codes_of(labels), labels


@pytest.mark.parametrize("frame", [False, True], ids=["array", "frame"])
@SETTINGS
@given(table=tables())
def test_encode_then_decode_round_trip(frame, table):
    enc = tarnix.Encoder()
    rows, cols = table.shape
    names = [f"c{i}" for i in range(cols)]
    src = pd.DataFrame(table, columns=names, dtype=object) if frame else table
    encoded = enc.encode(src)
    decoded = enc.decode(encoded)
    matrix = encoded.to_numpy() if frame else encoded
    assert matrix.dtype == np.float64 and matrix.shape == (rows, cols)
    for c in range(cols):
        values, labels = expected_column(list(table[:, c]))
        assert (bits(matrix[:, c]) == bits(values)).all()
        got = decoded[names[c]].tolist() if frame else decoded[:, c].tolist()
        if labels is None:
            assert (bits(got) == bits(values)).all()
        else:
            missing = None if frame else "NaN"
            assert got == [missing if l in MISSING_LABELS else l for l in labels]


def saturating_code(x):
    if x < 0:
        return 0
    if x > 18446744073709549568.0:
        return 2**64 - 1
    return int(x)


@SETTINGS
@given(labels=st.lists(TEXT, min_size=1, max_size=8),
       values=st.lists(st.one_of(st.floats(), st.integers(-3, 10).map(float),
                                 st.floats(-1, 10)), max_size=12))
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
