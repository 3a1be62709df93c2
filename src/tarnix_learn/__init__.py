"""A fitted label encoder for scikit-learn pipelines, built on tarnix.

`TextColumnEncoder` learns, per text column of a table, its labels and how
often each occurs, and later gives the labels of another table the codes
fitted from them. Both steps run on `tarnix.Encoder` (see `_labels`): a
table is encoded once with a fresh encoder, and its own codes are mapped to
the fitted ones with one lookup per distinct label and one array gather per
column. Labels and counts of several tables merge, so that chunks
(`partial_fit`) and the partitions of a Dask DataFrame fit one mapping.
"""

from __future__ import annotations

import numbers
import threading
from typing import TYPE_CHECKING, Any, Sequence

import numpy as np
import pandas as pd
from sklearn.base import BaseEstimator, TransformerMixin
from sklearn.utils._set_output import _get_output_config
from sklearn.utils.validation import _check_feature_names_in, check_is_fitted, validate_data

from . import _tables
from ._labels import (MISSING_TEXT, STRINGS, Column, Tally, column_cells, encode, encode_as_text,
                      encode_with_text, merge, search_sorted, tally, tally_codes)

# The fitted mapping: made from the labels and counts by `_learn`, at the end
# of `fit`, and after `partial_fit` when first needed.
MAPPING = ("categories_", "infrequent_categories_", "_lookup", "_codes", "_labels_of_codes")
# partial_fit merges the tables it has not merged yet once a column of them
# holds more labels than this and than the merged column: merging waits until
# it is needed, and what waits is bounded.
MERGE_AT = 1 << 20
# Held while an instance makes its mapping after partial_fit, so that threads
# that transform with it at once make it once.
_SETTLING = threading.Lock()

__all__ = ["TextColumnEncoder"]

# The label inverse_transform gives the code of the infrequent labels, as
# scikit-learn's encoders do.
INFREQUENT_LABEL = "infrequent_sklearn"


class TextColumnEncoder(TransformerMixin, BaseEstimator):  # type: ignore[misc]
    """Label-encodes the text columns of a table with codes fitted once.

    A column is numeric when every cell converts to a float, as for
    `tarnix.Encoder`; numeric columns pass through. A text column's labels
    are the `str()` of its cells; by default its distinct labels get the
    codes 0 .. k-1 in byte order of their UTF-8 text (Python's str order).
    Missing labels ("nan", "NaN", "<NA>", NaN, None and pandas.NA cells) get
    `encoded_missing_value`. The parameters are those of scikit-learn's
    `OrdinalEncoder`, with the same codes on text columns.

    Parameters
    ----------
    categories : "auto" or list, default="auto"
        Per column, its labels in code order (a list of str), or None to
        learn the column from the data. A column given labels is a text
        column. With handle_unknown="error", another label in it at fit
        raises.
    dtype : number type, default=np.float64
        The type of the output.
    handle_unknown : {"error", "use_encoded_value"}, default="error"
        What a label not seen at fit gives in `transform`: a ValueError
        naming the column and the label, or `unknown_value`.
    unknown_value : int, float or None, default=None
        The code of unseen labels; required with
        handle_unknown="use_encoded_value" (e.g. -1 or NaN).
    encoded_missing_value : int or float, default=np.nan
        The code of missing labels.
    min_frequency : int, float or None, default=None
        Labels seen fewer times than this (a count, or a share of the rows
        when a float in (0, 1)) are infrequent: they share one code, after
        the frequent ones.
    max_categories : int or None, default=None
        At most this many codes per column, the infrequent group included;
        the rarest labels join the group first.

    Attributes
    ----------
    categories_ : list
        Per column, an object array of the labels (in code order when none
        is infrequent), or None (a numeric column).
    infrequent_categories_ : list
        Per column, an object array of its infrequent labels, or None.
    n_features_in_ : int
    feature_names_in_ : ndarray of str
        Only when fitted on a table whose column names are all str.
    """

    def __init__(self, *, categories: str | Sequence[Sequence[str] | None] = "auto",
                 dtype: Any = np.float64, handle_unknown: str = "error",
                 unknown_value: float | None = None, encoded_missing_value: float = np.nan,
                 min_frequency: float | None = None, max_categories: int | None = None) -> None:
        self.categories = categories
        self.dtype = dtype
        self.handle_unknown = handle_unknown
        self.unknown_value = unknown_value
        self.encoded_missing_value = encoded_missing_value
        self.min_frequency = min_frequency
        self.max_categories = max_categories

    def __sklearn_tags__(self) -> Any:
        tags = super().__sklearn_tags__()
        tags.input_tags.allow_nan = True
        tags.input_tags.string = True
        tags.input_tags.categorical = True
        return tags

    # -- fitting -------------------------------------------------------

    def fit(self, X: Any, y: Any = None) -> TextColumnEncoder:
        """Learns which columns are text and each text column's labels and
        their counts. A Dask DataFrame is fitted on its workers."""
        if _is_dask(X):
            from ._dask import fit

            fit(self, X)
            return self
        self._fit(X, reset=True)
        return self

    def partial_fit(self, X: Any, y: Any = None) -> TextColumnEncoder:
        """Adds the labels and counts of X to those fitted so far: fitting
        the chunks of a table one by one gives what fitting the whole table
        gives. A column numeric in earlier chunks may not hold numbers and
        text. The chunks' labels are merged, and `categories_` made, when
        they are first needed."""
        self._fit(X, reset=not hasattr(self, "_rows"), partial=True)
        return self

    def fit_transform(self, X: Any, y: Any = None, **fit_params: Any) -> Any:
        """`fit(X).transform(X)`, with one encoding of X."""
        if _is_dask(X):
            return self.fit(X).transform(X)
        source, codes, labels = self._fit(X, reset=True, keep_codes=True)
        return self._codes_out(source, codes, labels)

    def _fit(self, X: Any, reset: bool, keep_codes: bool = False,
             partial: bool = False) -> tuple[Any, Any, Any]:
        self._check_params()
        source = self._read(X, reset)
        rows, width = source.table.shape
        if rows == 0 or width == 0:
            raise ValueError(f"Found array with {rows} sample(s) and {width} feature(s) "
                             f"(shape={source.table.shape}) while a minimum of 1 is required.")
        given = self._given_categories(width)
        text = None if reset else self._text_so_far()
        as_text = [j for j in range(width) if given[j] is not None or (text is not None and text[j])]
        # Counts are only needed for infrequent labels and for the check that
        # an integer dtype meets no missing cell.
        count = self._counts_needed()
        codes = labels = None
        if keep_codes:
            codes, labels, forced = encode_with_text(source.table, as_text)
            found = tally_codes(codes, labels, forced, count=count)
        else:
            found = tally(source.table, as_text, count=count)
        if partial:
            self._add(found, given, reset)
        else:
            self._learn(found)
        return source, codes, labels

    def _counts_needed(self) -> bool:
        return (self.min_frequency is not None or self.max_categories is not None
                or np.dtype(self.dtype).kind != "f")

    def _text_so_far(self) -> list[bool]:
        """Per column, whether it is text in a table fitted so far."""
        return [labels is not None for labels, *_ in self._outline]

    def _start(self, found: Tally) -> None:
        """Makes `found` the labels and counts fitted so far, all merged."""
        self._rows = found.rows
        # Plain tuples: a fitted instance pickles as NumPy arrays and builtins.
        self._seen = [tuple(column) for column in found.columns]
        self._pending: list[Tally] = []
        # What partial_fit checks a chunk against, with no labels merged:
        # each column's kind and one label of it; whether labels of it were
        # not counted; how many of its labels wait to be merged.
        self._outline = [tuple(column) for column in _outline(found).columns]
        self._uncounted = _uncounted(found)
        self._waiting = [0] * len(found.columns)

    def _add(self, found: Tally, given: list[np.ndarray | None], reset: bool) -> None:
        """Adds the tally of a chunk to those of the earlier ones; they are
        merged, and the mapping made, later (see `_settle`). What can only
        fail for the chunk fails now: a label not among the given
        categories, a column with numbers here and text elsewhere."""
        if self.handle_unknown == "error":
            for j, (column, listed) in enumerate(zip(found.columns, given)):
                if listed is not None and column.labels is not None:
                    known = set(listed.tolist())
                    _check_known(j, [label for label in column.labels.tolist() if label not in known])
        if reset:
            self._start(found)
        else:
            outline = merge([Tally(0, [Column(*c) for c in self._outline]), _outline(found)],
                            self._column_name, labels=lambda columns: columns[0])
            self._outline = [tuple(column) for column in outline.columns]
            self._pending.append(found)
            self._rows += found.rows
            self._uncounted = self._uncounted or _uncounted(found)
            self._waiting = [waiting + (0 if column.labels is None else len(column.labels))
                             for waiting, column in zip(self._waiting, found.columns)]
        for name in MAPPING:
            self.__dict__.pop(name, None)
        if any(waiting > max(MERGE_AT, 0 if labels is None else len(labels))
               for waiting, (labels, *_) in zip(self._waiting, self._seen)):
            self._merge_pending()
        if self._mapping_can_fail():
            self._settle()

    def _mapping_can_fail(self) -> bool:
        """Whether making the mapping may raise (see `_learn`): then
        partial_fit makes it at once, so that the chunk that makes it fail
        fails."""
        values: list[Any] = [self.encoded_missing_value]
        if self.handle_unknown == "use_encoded_value":
            values.append(self.unknown_value)
        return (any(float(v).is_integer() and float(v) >= 0 for v in values)
                or np.dtype(self.dtype).kind != "f" and np.isnan(self.encoded_missing_value)
                or self._uncounted and self._counts_needed())

    def _merged(self) -> Tally:
        return Tally(self._rows - sum(t.rows for t in self._pending),
                     [Column(*c) for c in self._seen])

    def _merge_pending(self) -> None:
        if self._pending:
            found = merge([self._merged(), *self._pending], self._column_name)
            self._seen, self._pending = [tuple(c) for c in found.columns], []
            self._waiting = [0] * len(self._seen)

    def _settle(self) -> None:
        """Merges the tallies partial_fit has not merged yet and makes the
        mapping from them."""
        self._merge_pending()
        self._learn(self._merged())

    def _settled(self) -> None:
        """Makes the mapping, if partial_fit has not made it yet."""
        with _SETTLING:
            if "_seen" in self.__dict__ and "categories_" not in self.__dict__:
                self._settle()

    if not TYPE_CHECKING:
        def __getattr__(self, name: str) -> Any:
            # Called only for attributes the instance does not have: the
            # mapping after partial_fit is made when first asked for.
            if name in MAPPING and "_seen" in self.__dict__:
                self._settled()
                return self.__dict__[name]
            raise AttributeError(f"{type(self).__name__!r} object has no attribute {name!r}")

    def __getstate__(self) -> Any:
        self._settled()
        return super().__getstate__()

    def _read(self, X: Any, reset: bool) -> _tables.Input:
        source = _tables.read(X)
        validate_data(self, X=source.named, skip_check_array=True, reset=reset)
        return source

    def _given_categories(self, width: int) -> list[np.ndarray | None]:
        if isinstance(self.categories, str):
            return [None] * width
        if len(self.categories) != width:
            raise ValueError("Shape mismatch: if categories is an array, it has to be of "
                             "shape (n_features,).")
        given: list[np.ndarray | None] = []
        for j, listed in enumerate(self.categories):
            if listed is None:
                given.append(None)
                continue
            labels = np.asarray(listed, dtype=object).ravel()
            if not all(type(label) is str for label in labels):
                raise TypeError(f"The categories of column {j} must be str, got {labels!r}")
            if len(set(labels)) != len(labels):
                raise ValueError(f"In column {j}, the predefined categories contain duplicate "
                                 "elements.")
            given.append(labels)
        return given

    def _learn(self, found: Tally) -> None:
        """Sets the fitted state from the labels and counts of everything
        fitted so far."""
        given = self._given_categories(len(found.columns))
        self._start(found)
        # Per column, each part of the mapping (in MAPPING's order), or None.
        parts: list[tuple[Any, ...]] = []
        missing = []
        for j, (column, labels) in enumerate(zip(found.columns, given)):
            if column.labels is None or (labels is None and not column.flag):
                parts.append((None,) * len(MAPPING))
                continue
            counts = column.counts
            if counts is None and (self.min_frequency is not None or self.max_categories is not None
                                   or np.dtype(self.dtype).kind != "f"):
                raise ValueError("The labels fitted so far were not counted (fit without "
                                 "min_frequency, max_categories or an integer dtype); fit again")
            if labels is None:
                lookup, order = column.labels.astype(STRINGS), None
                labels = column.labels
            else:
                lookup_labels = labels.astype(STRINGS)
                order = np.argsort(lookup_labels, kind="stable")
                lookup = lookup_labels[order]
                at = np.zeros(len(lookup), dtype=np.intp)
                seen = np.zeros(len(lookup), dtype=bool)
                found_labels = column.labels.astype(STRINGS)
                if len(found_labels):
                    at = np.minimum(search_sorted(found_labels, lookup), len(found_labels) - 1)
                    seen = found_labels[at] == lookup
                if self.handle_unknown == "error" and int(seen.sum()) != len(found_labels):
                    _check_known(j, np.setdiff1d(found_labels, lookup).tolist())
                if column.counts is not None:
                    counts = np.zeros(len(labels), dtype=np.int64)
                    counts[order[seen]] = column.counts[at[seen]]
            infrequent = None if counts is None else self._infrequent(counts, found.rows)
            codes = np.arange(len(labels), dtype=np.float64)
            names = labels
            if infrequent is not None:
                frequent = np.ones(len(labels), dtype=bool)
                frequent[infrequent] = False
                codes[frequent] = np.arange(frequent.sum())
                codes[infrequent] = frequent.sum()
                names = np.append(labels[frequent], INFREQUENT_LABEL).astype(object)
            parts.append((labels, None if infrequent is None else labels[infrequent], lookup,
                          codes if order is None else codes[order], names))
            missing.append(counts is not None and found.rows > int(column.counts.sum()))
        mapping = [list(part) for part in zip(*parts)] if parts else [[] for _ in MAPPING]
        self._check_codes_unused(mapping[MAPPING.index("_labels_of_codes")], any(missing))
        # categories_ last: a thread that finds it finds the whole mapping.
        (self.infrequent_categories_, self._lookup, self._codes, self._labels_of_codes) = mapping[1:]
        self.categories_: list[np.ndarray | None] = mapping[0]

    def _infrequent(self, counts: np.ndarray, rows: int) -> np.ndarray | None:
        """The positions of the infrequent labels among `counts`, by
        scikit-learn's rules, or None."""
        if self.min_frequency is None:
            rare = np.zeros(len(counts), dtype=bool)
        elif isinstance(self.min_frequency, numbers.Integral):
            rare = counts < self.min_frequency
        else:
            rare = counts < rows * self.min_frequency
        kept = len(counts) - int(rare.sum()) + 1
        if self.max_categories is not None and self.max_categories < kept:
            if self.max_categories == 1:
                rare[:] = True
            else:
                rare[np.argsort(counts, kind="mergesort")[: -(self.max_categories - 1)]] = True
        where = np.flatnonzero(rare)
        return where if len(where) else None

    def _check_params(self) -> None:
        if self.handle_unknown not in ("error", "use_encoded_value"):
            raise ValueError("handle_unknown must be 'error' or 'use_encoded_value', "
                             f"got {self.handle_unknown!r}")
        if self.handle_unknown == "use_encoded_value":
            if not _is_real(self.unknown_value):
                raise TypeError("unknown_value must be a float (e.g. -1 or np.nan) when "
                                "handle_unknown='use_encoded_value', got "
                                f"{self.unknown_value!r}")
        elif self.unknown_value is not None:
            raise TypeError("unknown_value is only used with handle_unknown='use_encoded_value'; "
                            f"got unknown_value={self.unknown_value!r}")
        if not _is_real(self.encoded_missing_value):
            raise TypeError("encoded_missing_value must be a float, got "
                            f"{self.encoded_missing_value!r}")
        if not (isinstance(self.categories, str) and self.categories == "auto"
                or isinstance(self.categories, (list, tuple))):
            raise ValueError(f"categories must be 'auto' or a list, got {self.categories!r}")
        frequency = self.min_frequency
        if frequency is not None and not (
                isinstance(frequency, numbers.Integral) and not isinstance(frequency, bool)
                and frequency >= 1 or _is_real(frequency) and 0 < frequency < 1):
            raise ValueError("min_frequency must be an int >= 1, a float in (0, 1) or None, "
                             f"got {frequency!r}")
        most = self.max_categories
        if most is not None and not (isinstance(most, numbers.Integral)
                                     and not isinstance(most, bool) and most >= 1):
            raise ValueError(f"max_categories must be an int >= 1 or None, got {most!r}")
        kind = np.dtype(self.dtype).kind
        if kind not in "iuf":
            raise ValueError(f"dtype must be a number type, got {self.dtype!r}")
        if (kind != "f" and self.handle_unknown == "use_encoded_value"
                and np.isnan(float(self.unknown_value))):  # type: ignore[arg-type]
            raise ValueError("When unknown_value is np.nan, the dtype parameter should be a "
                             f"float dtype. Got {self.dtype}.")

    def _check_codes_unused(self, labels_of_codes: list[np.ndarray | None], missing: bool) -> None:
        """unknown_value and encoded_missing_value must not be the code of a
        label (`labels_of_codes`: per column, its labels in code order), nor
        NaN for a dtype without NaN where it is needed."""
        sizes = [len(names) for names in labels_of_codes if names is not None]
        most = max(sizes, default=0)
        for name in ("unknown_value", "encoded_missing_value"):
            value = getattr(self, name)
            if name == "unknown_value" and self.handle_unknown != "use_encoded_value":
                continue
            value = float(value)
            if value.is_integer() and 0 <= value < most:
                columns = [self._column_name(j) for j, names in enumerate(labels_of_codes)
                           if names is not None and value < len(names)]
                raise ValueError(f"{name}={value:g} is the code of a label in the columns "
                                 f"{columns}; pick a negative value or NaN")
        if missing and np.dtype(self.dtype).kind != "f" and np.isnan(self.encoded_missing_value):
            raise ValueError(f"There are missing values; to encode them with dtype {self.dtype}, "
                             "set encoded_missing_value to a non-nan value, or set dtype to a "
                             "float")

    # -- transforming --------------------------------------------------

    def transform(self, X: Any) -> Any:
        """Codes of the fitted labels; see the class documentation. A Dask
        DataFrame gives a lazy Dask DataFrame."""
        check_is_fitted(self)
        if _is_dask(X):
            from ._dask import transform

            return transform(self, X)
        return self._transform(X)

    def _transform(self, X: Any) -> Any:
        source = self._read(X, reset=False)
        codes, labels = encode(source.table)
        for j in [j for j in labels if self.categories_[j] is None]:
            codes[:, j] = self._numbers_of(source.table, j, labels.pop(j))
        # A column that was text at fit may hold only numbers (or only
        # missing cells) now: its cells are labels all the same.
        relabel = [j for j, c in enumerate(self.categories_) if c is not None and j not in labels]
        if relabel:
            more_codes, more_labels = encode_as_text(source.table, relabel)
            for i, j in enumerate(relabel):
                codes[:, j] = more_codes[:, i]
                labels[j] = more_labels[i]
        return self._codes_out(source, codes, labels)

    def _codes_out(self, source: _tables.Input, codes: np.ndarray,
                   labels: dict[int, np.ndarray]) -> Any:
        for j, own in labels.items():
            if self.categories_[j] is not None:
                self._recode(codes[:, j], own, j)
        dtype = np.dtype(self.dtype)
        if dtype != np.float64:
            if dtype.kind != "f" and np.isnan(codes).any():
                raise ValueError(f"The output has NaN, which dtype {dtype} cannot hold")
            codes = codes.astype(dtype)
        if source.kind in ("polars", "arrow") and _get_output_config("transform", self)["dense"] != "default":
            # set_output's container is made from the array.
            return codes
        return _tables.codes_out(source, codes, self._names_out(source))

    def _names_out(self, source: _tables.Input) -> Any:
        if source.kind == "pandas":
            return source.named.columns
        return self.get_feature_names_out() if source.kind != "array" else None

    def _numbers_of(self, table: Any, j: int, labels: np.ndarray) -> np.ndarray:
        """The values of column j, numeric at fit, where the table holds
        non-numbers in it: missing cells (None, NaN, pandas.NA) are NaN, any
        other cell that is not a number is an error."""
        cells = column_cells(table, j)
        missing = pd.isna(cells)
        missing[~missing] = [type(c) is str and c in MISSING_TEXT for c in cells[~missing]]
        numbers = cells[~missing]
        kinds = set(map(type, numbers))
        if not any(issubclass(kind, (str, bytes, bytearray)) for kind in kinds):
            try:
                values = np.full(len(cells), np.nan)
                values[~missing] = numbers.astype(np.float64)
                return values
            except (TypeError, ValueError):
                pass
        raise ValueError(f"Column {self._column_name(j)!r} was numeric at fit and now "
                         f"holds text, e.g. the label {labels[-1]!r}")

    def _recode(self, column: np.ndarray, own: np.ndarray, j: int) -> None:
        """Replaces the table's own codes in `column` (own labels in code
        order) by the fitted codes, in place."""
        fitted, fitted_codes = self._lookup[j], self._codes[j]
        assert fitted is not None and fitted_codes is not None
        size = len(own)
        target = np.empty(size + 1)
        seen = np.zeros(size, dtype=bool)
        if size and len(fitted):
            own_text = own.astype(STRINGS)
            where = np.minimum(search_sorted(fitted, own_text), len(fitted) - 1)
            seen = fitted[where] == own_text
            target[:size] = fitted_codes[where]
        if not seen.all():
            if self.handle_unknown == "error":
                raise ValueError(f"Found unknown label {own[np.argmin(seen)]!r} in column "
                                 f"{self._column_name(j)!r} during transform")
            target[:size][~seen] = self.unknown_value
        target[size] = self.encoded_missing_value
        missing = np.isnan(column)
        column[missing] = size
        column[:] = target[column.astype(np.intp)]

    # -- inverse -------------------------------------------------------

    def inverse_transform(self, X: Any) -> Any:
        """Labels back from codes: a table of the input's kind (an object
        array, numeric cells as floats) whose text columns hold str, with
        None for missing codes and for codes of no label. A Dask DataFrame
        gives a lazy Dask DataFrame."""
        check_is_fitted(self)
        if _is_dask(X):
            from ._dask import inverse_transform

            return inverse_transform(self, X)
        source = _tables.read(X)
        if isinstance(source.table, pd.DataFrame):
            columns = [source.table.iloc[:, j].to_numpy(dtype=np.float64, na_value=np.nan)
                       for j in range(source.table.shape[1])]
        else:
            columns = list(source.table.astype(np.float64, copy=False).T)
        if len(columns) != self.n_features_in_:
            raise ValueError(f"X has {len(columns)} features, but TextColumnEncoder is "
                             f"expecting {self.n_features_in_} features as input")
        for j, names in enumerate(self._labels_of_codes):
            if names is not None:
                columns[j] = _labels_of(columns[j], names)
        if source.kind == "array":
            return _tables.columns_out(source, [c.astype(object) for c in columns], None)
        names_out = (source.named.columns if source.kind == "pandas"
                     else self.get_feature_names_out())
        return _tables.columns_out(source, columns, names_out)

    # -- names ---------------------------------------------------------

    def get_feature_names_out(self, input_features: Any = None) -> np.ndarray:
        """The input's column names: one output column per input column."""
        check_is_fitted(self, "n_features_in_")
        names: np.ndarray = _check_feature_names_in(self, input_features)
        return names

    def _column_name(self, j: int) -> Any:
        names = getattr(self, "feature_names_in_", None)
        return str(names[j]) if names is not None else j


def _outline(found: Tally) -> Tally:
    """A tally's columns with at most their last label, uncounted."""
    return Tally(found.rows, [Column(None if c.labels is None else c.labels[-1:], None, c.flag)
                              for c in found.columns])


def _uncounted(found: Tally) -> bool:
    return any(column.labels is not None and column.counts is None for column in found.columns)


def _check_known(j: int, unknown: list[str]) -> None:
    """Fitting with given categories and handle_unknown="error": column j
    holds no other labels (`unknown`, sorted)."""
    if unknown:
        raise ValueError(f"Found unknown categories {unknown[:10]} in column {j} during fit")


def _labels_of(codes: np.ndarray, names: np.ndarray) -> np.ndarray:
    """The label of each code (None where a code names no label)."""
    known = (codes >= 0) & (codes < len(names)) & (codes == np.floor(codes))
    labels = np.full(len(codes), None, dtype=object)
    labels[known] = names[codes[known].astype(np.intp)]
    return labels


def _is_real(value: Any) -> bool:
    return isinstance(value, numbers.Real) and not isinstance(value, (bool, np.bool_))


def _is_dask(X: Any) -> bool:
    """A Dask collection, recognised without importing Dask."""
    return type(X).__module__.split(".")[0] in ("dask", "dask_expr") and hasattr(X, "dask")

