"""The kinds of table the transformer takes, read as tarnix reads tables,
and its results made in the kind of its input."""

from __future__ import annotations

from typing import Any, NamedTuple

import numpy as np
import pandas as pd
from scipy import sparse


class Input(NamedTuple):
    """A table as the transformer reads it.

    `table` is what tarnix encodes: a DataFrame with positional column names
    (so any column labels do) or a 2-D ndarray/memmap. `named` is what
    scikit-learn checks column names on (a DataFrame with the input's
    names, or the array). `kind` is the input's kind: "pandas", "polars",
    "arrow" or "array"; `index` a pandas input's index."""

    table: Any
    named: Any
    kind: str
    index: Any


def _module(X: Any) -> str:
    return type(X).__module__.split(".")[0]


def _is_polars(X: Any) -> bool:
    return _module(X) == "polars" and type(X).__name__ == "DataFrame"


def _is_arrow(X: Any) -> bool:
    return _module(X) == "pyarrow" and type(X).__name__ in ("Table", "RecordBatch")


def _string_type(arrow_type: Any) -> Any:
    """The pandas dtype that keeps an Arrow string column in its buffers."""
    import pyarrow as pa

    text = (pa.types.is_string(arrow_type) or pa.types.is_large_string(arrow_type)
            or pa.types.is_string_view(arrow_type))
    return pd.ArrowDtype(arrow_type) if text else None


def arrow_frame(X: Any) -> pd.DataFrame:
    """A polars DataFrame or an Arrow table as a pandas DataFrame, read
    through the Arrow C stream: its string columns stay in their Arrow
    buffers (no copy, no Python object per cell)."""
    try:
        import pyarrow as pa
    except ImportError:
        if not _is_polars(X):
            raise
        # Without pyarrow, polars gives each column as a NumPy array.
        return pd.DataFrame({name: X.get_column(name).to_numpy() for name in X.columns})
    table = X if isinstance(X, pa.Table) else pa.table(X)
    frame: pd.DataFrame = table.to_pandas(types_mapper=_string_type, split_blocks=True,
                                          self_destruct=False)
    return frame


def _positional(frame: pd.DataFrame) -> pd.DataFrame:
    table = frame.copy(deep=False)
    if type(table) is not pd.DataFrame:
        table = pd.DataFrame(table)
    table.columns = pd.RangeIndex(table.shape[1])
    return table


def read(X: Any) -> Input:
    """X as the transformer reads it; see `Input`."""
    if isinstance(X, pd.DataFrame):
        return Input(_positional(X), X, "pandas", X.index)
    if _is_polars(X) or _is_arrow(X):
        frame = arrow_frame(X)
        return Input(_positional(frame), frame, "polars" if _is_polars(X) else "arrow", None)
    if sparse.issparse(X):
        raise TypeError("TextColumnEncoder does not take sparse input; pass a dense "
                        "array or a DataFrame")
    if type(X) not in (np.ndarray, np.memmap):
        X = np.asarray(X)
    if X.ndim != 2:
        raise ValueError(f"Expected a 2-dimensional array or a DataFrame, got an array of "
                         f"shape {X.shape}. Reshape your data, e.g. with X.reshape(-1, 1) "
                         "for a single column.")
    return Input(X, X, "array", None)


def columns_out(source: Input, columns: list[np.ndarray], names: Any) -> Any:
    """Columns (1-D arrays) as a table of the input's kind, named `names`."""
    if source.kind == "pandas":
        # Object columns stay object columns (pandas would make str columns
        # of labels, with NaN for None).
        out = pd.DataFrame({j: pd.Series(column, index=source.index, dtype=column.dtype, copy=False)
                            for j, column in enumerate(columns)}, index=source.index)
        out.columns = names
        return out
    if source.kind == "polars":
        import polars as pl

        return pl.DataFrame([pl.Series(str(name), column) for name, column in zip(names, columns)])
    if source.kind == "arrow":
        import pyarrow as pa

        return pa.table({str(name): pa.array(column) for name, column in zip(names, columns)})
    if not columns:
        return np.empty((source.table.shape[0], 0))
    matrix = np.empty((len(columns[0]), len(columns)),
                      dtype=np.result_type(*[c.dtype for c in columns]))
    for j, column in enumerate(columns):
        matrix[:, j] = column
    return matrix


def codes_out(source: Input, codes: np.ndarray, names: Any) -> Any:
    """A matrix of codes as a table of the input's kind."""
    if source.kind == "pandas":
        return pd.DataFrame(codes, index=source.index, columns=names, copy=False)
    if source.kind == "array":
        return codes
    return columns_out(source, list(codes.T), names)
