"""TextColumnEncoder on Dask DataFrames (imported only when one arrives).

Fitting finds each partition's distinct labels (and their counts, where the
parameters need them) on the worker that holds it, as Arrow arrays, and
merges them in a tree of merges, also on the workers: the client gets one
merged table of labels and counts, never a row, and sorts it. Transforming
maps each partition through the fitted encoder, lazily."""

from __future__ import annotations

import copy
from typing import TYPE_CHECKING, Any

import numpy as np
import pandas as pd
from sklearn.utils.validation import validate_data

from . import _tables
from ._labels import Tally, merge, merge_arrow, sorted_column, tally

if TYPE_CHECKING:
    from . import TextColumnEncoder

# Partition tallies merged by one task of the tree.
SPLIT_EVERY = 8


def _tally_partition(part: pd.DataFrame, as_text: list[int], count: bool) -> Tally:
    return tally(_tables.read(part).table, as_text, count=count, arrow=True)


def _merge_tallies(*tallies: Tally) -> Tally:
    return merge(list(tallies), labels=merge_arrow)


def fit(encoder: TextColumnEncoder, ddf: Any) -> None:
    """Fits `encoder` on the rows of all partitions of `ddf`. Columns of a
    number dtype are numeric; every other column is counted as text in each
    partition (even one whose cells there are all numbers), so partitions
    merge; a column with no text cell anywhere stays numeric, as it would in
    the whole table."""
    from dask.base import compute
    from dask.delayed import delayed

    encoder._check_params()
    meta = ddf._meta
    validate_data(encoder, X=meta, skip_check_array=True, reset=True)
    width = meta.shape[1]
    if width == 0:
        raise ValueError("Found a Dask DataFrame with 0 feature(s) while a minimum of 1 is "
                         "required.")
    given = encoder._given_categories(width)
    as_text = [j for j in range(width) if given[j] is not None
               or not (pd.api.types.is_numeric_dtype(meta.dtypes.iloc[j])
                       or pd.api.types.is_bool_dtype(meta.dtypes.iloc[j]))]
    count = encoder._counts_needed()
    tallies = [delayed(_tally_partition, pure=True)(part, as_text, count)
               for part in ddf.to_delayed()]
    while len(tallies) > 1:
        tallies = [delayed(_merge_tallies, pure=True)(*tallies[i:i + SPLIT_EVERY])
                   for i in range(0, len(tallies), SPLIT_EVERY)]
    (found,) = compute(tallies[0])  # type: ignore[no-untyped-call]
    if found.rows == 0:
        raise ValueError("Found a Dask DataFrame with 0 sample(s) while a minimum of 1 is "
                         "required.")
    encoder._learn(Tally(found.rows, [column if column.labels is None else sorted_column(column)
                                      for column in found.columns]))


def _check_names(encoder: TextColumnEncoder, ddf: Any) -> pd.DataFrame:
    meta: pd.DataFrame = ddf._meta
    validate_data(encoder, X=meta, skip_check_array=True, reset=False)
    return meta


def transform(encoder: TextColumnEncoder, ddf: Any) -> Any:
    """A lazy Dask DataFrame of the codes of each partition."""
    meta = _check_names(encoder, ddf)
    out = pd.DataFrame({name: pd.Series(dtype=encoder.dtype) for name in meta.columns})
    out.columns = meta.columns
    return ddf.map_partitions(_transform_partition, _shipped(_slim(encoder)), meta=out)


def _shipped(encoder: TextColumnEncoder) -> Any:
    """The encoder as one task of the graph: each worker gets it once, not
    once per partition."""
    from dask.delayed import delayed

    return delayed(encoder, pure=True)


def _slim(encoder: TextColumnEncoder) -> TextColumnEncoder:
    """A copy with only what transforming needs: the sorted labels and
    their codes (no object arrays, no counts)."""
    slim = copy.copy(encoder)
    for name in ("_seen", "infrequent_categories_", "_labels_of_codes"):
        slim.__dict__.pop(name, None)
    # transform only asks which columns are text.
    slim.categories_ = slim._lookup
    return slim


def _transform_partition(part: pd.DataFrame, encoder: TextColumnEncoder) -> pd.DataFrame:
    out: pd.DataFrame = encoder._transform(part)
    return out


def inverse_transform(encoder: TextColumnEncoder, ddf: Any) -> Any:
    """A lazy Dask DataFrame of the labels of each partition's codes."""
    meta = ddf._meta
    if meta.shape[1] != encoder.n_features_in_:
        raise ValueError(f"X has {meta.shape[1]} features, but TextColumnEncoder is "
                         f"expecting {encoder.n_features_in_} features as input")
    out = pd.DataFrame({j: pd.Series(dtype=object if names is not None else np.float64)
                        for j, names in enumerate(encoder._labels_of_codes)})
    out.columns = meta.columns
    return ddf.map_partitions(_inverse_partition, _shipped(encoder), meta=out)


def _inverse_partition(part: pd.DataFrame, encoder: TextColumnEncoder) -> pd.DataFrame:
    out: pd.DataFrame = encoder.inverse_transform(part)
    return out
