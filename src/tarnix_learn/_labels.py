"""The labels of a table's text columns, as the transformer defines them.

A table is encoded once with a fresh `tarnix.Encoder`; its record tells which
columns are text and, through the decoding of a small table of codes
0 .. k-1, each text column's labels in code order. Two of the encoder's
readings are then corrected, so that a cell's label never depends on where
the cell stands:

- the encoder renders a number that comes before its column's first text
  cell in its own way ("1" for 1.0); here every label is `str(cell)`;
- None is missing here (the encoder labels it "None").
"""

from __future__ import annotations

import bisect
import functools
from typing import Any, Callable, Iterable, NamedTuple

import numpy as np
import pandas as pd

import tarnix

# Variable-width UTF-8 strings: sorting and searching them is native code,
# and their order is byte order, the order of tarnix's codes.
STRINGS = np.dtypes.StringDType()
# Labels tarnix counts as missing.
MISSING_TEXT = ("<NA>", "NaN", "nan")
# Characters of the encoder's rendering of a number (besides "inf").
_NUMBER_CHARS = "0123456789.-"

Cells = Callable[[int, Any], np.ndarray]


def column_cells(table: Any, j: int, rows: Any = slice(None)) -> np.ndarray:
    """The cells of column j (at `rows`) as an object array."""
    if isinstance(table, pd.DataFrame):
        cells: np.ndarray = table.iloc[rows, j].to_numpy(dtype=object)
        return cells
    return np.asarray(table[rows, j], dtype=object)


def encode(table: Any) -> tuple[np.ndarray, dict[int, np.ndarray]]:
    """Encodes `table` (a DataFrame with positional column names, or a 2-D
    array) with a fresh Encoder. Returns the codes (a writable n x C float64
    array, NaN for missing) and, per text column, its labels in code order
    (object arrays of str)."""
    encoder = tarnix.Encoder()
    out = encoder.encode(table)
    codes = out.to_numpy() if isinstance(out, pd.DataFrame) else out
    if not codes.flags.writeable:
        codes = codes.copy(order="K")
    labels: dict[int, np.ndarray] = {}
    width = codes.shape[1]
    if width == 0:
        return codes, labels
    # A decoded array holds a str in every encoded column (a label or "NaN")
    # and a float in every other one.
    probe = encoder.decode(np.zeros((1, width)))
    text = [j for j in range(width) if isinstance(probe[0, j], str)]
    sizes = {j: int(np.fmax.reduce(codes[:, j], initial=-1.0)) + 1 for j in text}
    height = max(sizes.values(), default=0)
    if height:
        # Codes 0 .. height-1 in each text column; a decoded frame leaves the
        # other columns untouched and has None where a code has no label.
        ramps = np.zeros((height, text[-1] + 1), order="F")
        ramps[:, text] = np.arange(height, dtype=np.float64)[:, None]
        decoded = encoder.decode(pd.DataFrame(ramps, copy=False))
    for j in text:
        labels[j] = (np.array(decoded.iloc[: sizes[j], j].to_numpy(dtype=object), dtype=object)
                     if sizes[j] else np.empty(0, dtype=object))
    for j in labels:
        if _may_hold_numbers(table, j):
            labels[j] = _numbers_as_str(codes[:, j], labels[j],
                                        functools.partial(column_cells, table, j))
    _none_is_missing(codes, labels, lambda j, rows: column_cells(table, j, rows))
    return codes, labels


def _may_hold_numbers(table: Any, j: int) -> bool:
    """False where every cell of column j is a str or missing."""
    if isinstance(table, pd.DataFrame):
        dtype = table.dtypes.iloc[j]
        if isinstance(dtype, pd.StringDtype):
            return False
        if isinstance(dtype, pd.ArrowDtype):
            return "string" not in str(dtype.pyarrow_dtype)
        if isinstance(dtype, pd.CategoricalDtype):
            return not all(isinstance(c, str) for c in dtype.categories)
    return True


def _numbers_as_str(column: np.ndarray, labels: np.ndarray,
                    cells: Callable[[slice], np.ndarray]) -> np.ndarray:
    """Gives the number cells that come before the column's first text cell
    the label `str(cell)`, in place in `column` (codes of `labels`); returns
    the column's labels in code order.

    Only rows before the first cell whose label no number renders to can
    hold such a cell, and only a column with a label like "12", "-0.5" or
    "inf" has any; every other column costs one look at its labels."""
    if not len(labels):
        return labels
    text = labels.astype(STRINGS)
    rendered = ((np.strings.strip(text, _NUMBER_CHARS) == "") & (text != "")) | np.isin(text, ["inf", "-inf"])
    if not rendered.any():
        return labels
    missing_code = len(labels)
    index = np.where(np.isnan(column), missing_code, column).astype(np.intp)
    # Missing cells (NaN codes) neither end the run of numbers nor get a label.
    text_rows = np.flatnonzero(~np.append(rendered, True)[index])
    stop = int(text_rows[0]) if len(text_rows) else len(column)
    if stop == 0:
        return labels
    prefix = cells(slice(0, stop))
    own = prefix.astype(STRINGS)
    missing = pd.isna(prefix) | np.isin(own, MISSING_TEXT)
    merged = np.unique(np.concatenate([text, own[~missing]]))
    rest = index[stop:]
    known = rest < missing_code
    rest[~known] = len(merged)
    rest[known] = np.searchsorted(merged, text)[rest[known]]
    index[:stop] = len(merged)
    index[:stop][~missing] = np.searchsorted(merged, own[~missing])
    # Labels only the encoder's rendering gave are held by no row now.
    held = np.bincount(index, minlength=len(merged) + 1)[:-1] > 0
    renumber = np.append(np.cumsum(held) - 1, -1).astype(np.float64)
    renumber[-1] = np.nan
    column[:] = renumber[index]
    return merged[held].astype(object)


def _drop_label(column: np.ndarray, labels: np.ndarray, code: int) -> np.ndarray:
    """Removes `code` from a column whose cells no longer use it."""
    column[column > code] -= 1
    return np.delete(labels, code)


def _none_is_missing(codes: np.ndarray, labels: dict[int, np.ndarray], cells: Cells) -> None:
    """tarnix reads a None cell of an object column as the label "None";
    here None is missing, as it is for scikit-learn. Only the cells labelled
    "None" are looked at, so a table without that label costs nothing."""
    for j, column_labels in labels.items():
        code = bisect.bisect_left(column_labels, "None")
        if code == len(column_labels) or column_labels[code] != "None":
            continue
        column = codes[:, j]
        rows = np.flatnonzero(column == code)
        none = pd.isna(cells(j, rows))
        column[rows[none]] = np.nan
        if none.all():
            labels[j] = _drop_label(column, column_labels, code)


def encode_as_text(table: Any, columns: list[int]) -> tuple[np.ndarray, dict[int, np.ndarray]]:
    """Encodes the given columns as text even where every cell is a number:
    a last row "" (never a number) makes each a text column. Returns the
    codes and labels of those columns, by position in `columns`."""
    rows = table.shape[0]
    cells = np.empty((rows + 1, len(columns)), dtype=object)
    for i, j in enumerate(columns):
        cells[:rows, i] = column_cells(table, j)
    cells[rows, :] = ""
    codes, labels = encode(cells)
    codes = codes[:rows]
    for i in labels:
        # "" sorts first, so its code is 0; no cell that converts to a float
        # has that label.
        labels[i] = _drop_label(codes[:, i], labels[i], 0)
    return codes, labels


# -- labels and their counts -------------------------------------------------


class Column(NamedTuple):
    """What a table's column holds, as far as fitting needs it.

    A text column has its distinct labels (sorted, StringDType) and their
    counts; `flag` tells whether a cell of it was text (False where the
    column was read as text only because it is text elsewhere). A numeric
    column has neither; `flag` tells whether any of its cells is a number
    other than NaN."""

    labels: np.ndarray | None
    counts: np.ndarray | None
    flag: bool
    # The labels as an object array of str, where they came as one.
    objects: np.ndarray | None = None


class Tally(NamedTuple):
    """The columns of a table (or of several, merged) and its row count."""

    rows: int
    columns: list[Column]


def text_column(labels: np.ndarray, counts: np.ndarray | None, had_text: bool = True) -> Column:
    return Column(labels.astype(STRINGS), None if counts is None else counts.astype(np.int64),
                  had_text, labels if labels.dtype == object else None)


def tally_codes(codes: np.ndarray, labels: dict[int, np.ndarray], forced: Iterable[int] = (),
                count: bool = True) -> Tally:
    """The tally of a table from its codes and labels (as `encode` gives
    them); the columns in `forced` were read as text without holding any.
    Without `count`, labels are not counted."""
    columns = []
    for j in range(codes.shape[1]):
        if j in labels:
            column = codes[:, j]
            counts = None
            if count:
                counts = np.bincount(column[~np.isnan(column)].astype(np.intp),
                                     minlength=len(labels[j]))
            columns.append(text_column(labels[j], counts, j not in forced))
        else:
            columns.append(Column(None, None, bool(np.any(~np.isnan(codes[:, j])))))
    return Tally(codes.shape[0], columns)


def encode_with_text(table: Any, as_text: Iterable[int]) -> tuple[np.ndarray, dict[int, np.ndarray], list[int]]:
    """`encode(table)`, where the columns in `as_text` are text even when
    every cell is a number. Also returns the columns read as text so."""
    codes, labels = encode(table)
    forced = [j for j in as_text if j not in labels]
    if forced:
        more_codes, more_labels = encode_as_text(table, forced)
        for i, j in enumerate(forced):
            codes[:, j] = more_codes[:, i]
            labels[j] = more_labels[i]
    return codes, labels, forced


def _arrow_strings(table: Any, j: int) -> Any:
    """Column j as an Arrow chunked array where it is stored as Arrow
    strings, else None."""
    if not isinstance(table, pd.DataFrame):
        return None
    dtype = table.dtypes.iloc[j]
    arrow = ((isinstance(dtype, pd.StringDtype) and dtype.storage == "pyarrow")
             or (isinstance(dtype, pd.ArrowDtype) and "string" in str(dtype.pyarrow_dtype)))
    return table.iloc[:, j].array.__arrow_array__() if arrow else None


def _arrow_tally(strings: Any) -> Column:
    """Labels and counts of an Arrow string column, hashed by Arrow."""
    import pyarrow as pa
    import pyarrow.compute as pc

    if pa.types.is_string_view(strings.type):
        strings = strings.cast(pa.large_string())
    found = pc.value_counts(pc.drop_null(strings))
    labels, counts = found.field(0), found.field(1)
    keep = pc.invert(pc.is_in(labels, value_set=pa.array(MISSING_TEXT, type=labels.type)))
    labels, counts = labels.filter(keep), counts.filter(keep)
    # Arrow sorts strings by their bytes: tarnix's order.
    order = pc.array_sort_indices(labels)
    return text_column(labels.take(order).to_numpy(zero_copy_only=False).astype(STRINGS),
                       counts.take(order).to_numpy(zero_copy_only=False))


def tally(table: Any, as_text: Iterable[int] = (), count: bool = True) -> Tally:
    """Labels and counts of every text column of `table` (a DataFrame with
    positional column names or a 2-D array). The columns in `as_text` are
    text even where every cell is a number (their `flag` then is False).
    Arrow-stored string columns are counted by Arrow; the other columns
    through one encode."""
    rows, width = table.shape
    columns: list[Column | None] = [None] * width
    for j in range(width):
        strings = _arrow_strings(table, j)
        if strings is not None:
            columns[j] = _arrow_tally(strings)
    rest = [j for j in range(width) if columns[j] is None]
    if rest:
        part = table
        if len(rest) < width:
            part = table.iloc[:, rest]
            part.columns = pd.RangeIndex(len(rest))
        text = [i for i, j in enumerate(rest) if j in set(as_text)]
        found = tally_codes(*encode_with_text(part, text), count=count)
        for i, j in enumerate(rest):
            columns[j] = found.columns[i]
    return Tally(rows, columns)  # type: ignore[arg-type]


def _merge_labels(a: Column, b: Column) -> Column:
    big, small = (a, b) if len(a.labels) >= len(b.labels) else (b, a)  # type: ignore[arg-type]
    big_labels, big_counts = _text(big)
    small_labels, small_counts = _text(small)
    at = np.searchsorted(big_labels, small_labels)
    found = at < len(big_labels)
    found[found] = big_labels[at[found]] == small_labels[found]
    labels = big_labels
    counts = None
    if big_counts is not None and small_counts is not None:
        counts = big_counts.copy()
        counts[at[found]] += small_counts[found]
    if not found.all():
        labels = np.insert(labels, at[~found], small_labels[~found])
        if counts is not None:
            counts = np.insert(counts, at[~found], small_counts[~found])  # type: ignore[index]
    return Column(labels, counts, a.flag or b.flag)


def _text(column: Column) -> tuple[np.ndarray, np.ndarray | None]:
    assert column.labels is not None
    return column.labels, column.counts


def merge(a: Tally, b: Tally, name: Callable[[int], Any] = lambda j: j) -> Tally:
    """The tally of two tables stacked. A column that is text in one and
    numeric in the other is text when the numeric side holds no number
    (only NaN); otherwise it is an error."""
    columns = []
    for j, (x, y) in enumerate(zip(a.columns, b.columns)):
        if x.labels is None and y.labels is None:
            columns.append(Column(None, None, x.flag or y.flag))
        elif x.labels is not None and y.labels is not None:
            columns.append(_merge_labels(x, y))
        else:
            text, numeric = (x, y) if x.labels is not None else (y, x)
            if numeric.flag:
                raise ValueError(f"Column {name(j)!r} holds numbers in one table and text in "
                                 f"another, e.g. the label {str(_text(text)[0][-1])!r}")
            columns.append(text)
    return Tally(a.rows + b.rows, columns)
