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

from ._native import merge_runs

# Variable-width UTF-8 strings: sorting and searching them is native code,
# and their order is byte order, the order of tarnix's codes.
STRINGS = np.dtypes.StringDType()
# Labels tarnix counts as missing.
MISSING_TEXT = ("<NA>", "NaN", "nan")
# Characters of the encoder's rendering of a number (besides "inf").
_NUMBER_CHARS = "0123456789.-"

Cells = Callable[[int, Any], np.ndarray]

# NumPy 2.4, the last release for CPython 3.11, cannot search a sorted
# StringDType array once a label in it is longer than 15 bytes ("Failed to
# load string in string comparison"); there the search compares Python str,
# whose order (by code point) is the same.
_SEARCH_AS_OBJECTS = np.lib.NumpyVersion(np.__version__) < "2.5.0"


def search_sorted(ordered: np.ndarray, values: np.ndarray) -> np.ndarray:
    """np.searchsorted(ordered, values) for StringDType arrays."""
    if _SEARCH_AS_OBJECTS:
        return np.searchsorted(ordered.astype(object), values.astype(object))
    return np.searchsorted(ordered, values)


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
    dtypes = column_dtypes(table)
    for j in labels:
        if _may_hold_numbers(dtypes[j]):
            labels[j] = _numbers_as_str(codes[:, j], labels[j],
                                        functools.partial(column_cells, table, j))
    _none_is_missing(codes, labels, lambda j, rows: column_cells(table, j, rows))
    return codes, labels


def column_dtypes(table: Any) -> list[Any]:
    """The dtype of each column of a DataFrame (None for an array's)."""
    if isinstance(table, pd.DataFrame):
        return list(table.dtypes)
    return [None] * table.shape[1]


def _may_hold_numbers(dtype: Any) -> bool:
    """False where every cell of a column of this dtype is a str or missing."""
    if dtype is not None:
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
    rest[known] = search_sorted(merged, text)[rest[known]]
    index[:stop] = len(merged)
    index[:stop][~missing] = search_sorted(merged, own[~missing])
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

    A text column has its distinct labels (an object array of str, sorted)
    and their counts (or None, where they were not counted); `flag` tells
    whether a cell of it was text (False where the column was read as text
    only because it is text elsewhere). A numeric column has neither; `flag`
    tells whether any of its cells is a number other than NaN.

    On the workers of a Dask cluster, labels and counts are Arrow arrays in
    no particular order (see `arrow_labels`)."""

    labels: Any
    counts: Any
    flag: bool


class Tally(NamedTuple):
    """The columns of a table (or of several, merged) and its row count."""

    rows: int
    columns: list[Column]


def text_column(labels: np.ndarray, counts: np.ndarray | None, had_text: bool = True) -> Column:
    return Column(labels, None if counts is None else counts.astype(np.int64), had_text)


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


def _arrow_strings(table: Any, j: int, dtype: Any) -> Any:
    """Column j (of that dtype) as an Arrow chunked array where it is stored
    as Arrow strings, else None."""
    arrow = ((isinstance(dtype, pd.StringDtype) and dtype.storage == "pyarrow")
             or (isinstance(dtype, pd.ArrowDtype) and "string" in str(dtype.pyarrow_dtype)))
    return table.iloc[:, j].array.__arrow_array__() if arrow else None


def _arrow_distinct(strings: Any, count: bool) -> Column:
    """The distinct labels of an Arrow string column (large_string, in no
    particular order) and, with `count`, their counts; hashed by Arrow."""
    import pyarrow as pa
    import pyarrow.compute as pc

    if not pa.types.is_large_string(strings.type):
        strings = strings.cast(pa.large_string())
    counts = None
    if count:
        found = pc.value_counts(strings)
        labels, counts = found.field(0), found.field(1)
    else:
        labels = pc.unique(strings)
    # Null and the missing labels are no labels; they are few among the
    # distinct values, so they are filtered there.
    keep = pc.and_kleene(labels.is_valid(),
                         pc.invert(pc.is_in(labels, value_set=pa.array(MISSING_TEXT, pa.large_string()))))
    keep = pc.fill_null(keep, False)
    return Column(labels.filter(keep), None if counts is None else counts.filter(keep), True)


def sorted_column(column: Column) -> Column:
    """A column of Arrow labels (as `_arrow_distinct` gives them) with its
    labels sorted, as NumPy arrays."""
    import pyarrow.compute as pc

    # Arrow sorts strings by their bytes: tarnix's order.
    order = pc.array_sort_indices(column.labels)
    labels = column.labels.take(order).to_numpy(zero_copy_only=False)
    counts = None if column.counts is None else column.counts.take(order).to_numpy(zero_copy_only=False)
    return text_column(labels, counts, column.flag)


def arrow_labels(column: Column) -> Column:
    """A text column with its labels (and counts) as Arrow arrays, as they
    merge on a Dask worker."""
    import pyarrow as pa

    if column.labels is None or isinstance(column.labels, (pa.Array, pa.ChunkedArray)):
        return column
    return Column(pa.array(column.labels, pa.large_string()),
                  None if column.counts is None else pa.array(column.counts, pa.int64()), column.flag)


def tally(table: Any, as_text: Iterable[int] = (), count: bool = True,
          arrow: bool = False) -> Tally:
    """Labels and counts of every text column of `table` (a DataFrame with
    positional column names or a 2-D array). The columns in `as_text` are
    text even where every cell is a number (their `flag` then is False).
    Arrow-stored string columns are counted by Arrow; the other columns
    through one encode. With `arrow`, every text column's labels and counts
    are Arrow arrays in no particular order (see `merge_arrow`)."""
    rows, width = table.shape
    columns: list[Column | None] = [None] * width
    dtypes = column_dtypes(table)
    for j in range(width):
        strings = _arrow_strings(table, j, dtypes[j])
        if strings is not None:
            found = _arrow_distinct(strings, count)
            columns[j] = found if arrow else sorted_column(found)
    rest = [j for j in range(width) if columns[j] is None]
    if rest:
        part = table
        if len(rest) < width:
            part = table.iloc[:, rest]
            part.columns = pd.RangeIndex(len(rest))
        text = [i for i, j in enumerate(rest) if j in set(as_text)]
        found_rest = tally_codes(*encode_with_text(part, text), count=count)
        for i, j in enumerate(rest):
            columns[j] = arrow_labels(found_rest.columns[i]) if arrow else found_rest.columns[i]
    return Tally(rows, columns)  # type: ignore[arg-type]


def merge_labels(columns: list[Column]) -> Column:
    """One text column from several (sorted NumPy labels): the union of
    their labels, sorted, with their counts summed (None if any is)."""
    flag = any(column.flag for column in columns)
    counted = all(column.counts is not None for column in columns)
    columns = [column for column in columns if len(column.labels)] or columns[:1]
    if len(columns) == 1:
        return Column(columns[0].labels, columns[0].counts if counted else None, flag)
    labels = np.concatenate([column.labels for column in columns])
    first, rank = merge_runs(labels, np.cumsum([len(column.labels) for column in columns]))
    counts = None
    if counted:
        counts = np.bincount(rank, weights=np.concatenate([column.counts for column in columns]),
                             minlength=len(first)).astype(np.int64)
    return Column(labels[first], counts, flag)


def merge_arrow(columns: list[Column]) -> Column:
    """`merge_labels` for columns of Arrow labels, hashed by Arrow and left
    unsorted."""
    import pyarrow as pa
    import pyarrow.compute as pc

    flag = any(column.flag for column in columns)
    labels = pa.chunked_array([column.labels for column in columns])
    if any(column.counts is None for column in columns):
        return Column(pc.unique(labels), None, flag)
    counts = pa.chunked_array([column.counts for column in columns])
    summed = pa.table({"label": labels, "count": counts}).group_by("label").aggregate([("count", "sum")])
    return Column(summed["label"].combine_chunks(), summed["count_sum"].combine_chunks(), flag)


def merge(tallies: list[Tally], name: Callable[[int], Any] = lambda j: j,
          labels: Callable[[list[Column]], Column] = merge_labels) -> Tally:
    """The tally of several tables stacked; `labels` merges the text
    columns. A column that is text in one and numeric in another is text
    when the numeric ones hold no number (only NaN); otherwise it is an
    error."""
    columns = []
    for j, parts in enumerate(zip(*(t.columns for t in tallies))):
        text = [part for part in parts if part.labels is not None]
        numbers = any(part.flag for part in parts if part.labels is None)
        if not text:
            columns.append(Column(None, None, numbers))
            continue
        if numbers:
            example = next((str(c.labels[len(c.labels) - 1]) for c in text if len(c.labels)), "")
            raise ValueError(f"Column {name(j)!r} holds numbers in one table and text in "
                             f"another, e.g. the label {example!r}")
        columns.append(text[0] if len(text) == 1 else labels(text))
    return Tally(sum(t.rows for t in tallies), columns)
