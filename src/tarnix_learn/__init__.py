"""A fitted label encoder for scikit-learn pipelines, built on tarnix.

`TextColumnEncoder` learns, per text column of a table, its labels in code
order, and later gives the labels of another table those same codes. Both
steps run on `tarnix.Encoder`: a table is encoded once with a fresh encoder,
and that encoder's record tells which columns were text and, through the
decoding of a small table of codes 0 .. k-1, each column's labels in code
order. Mapping a table's own codes to the fitted ones then costs one lookup
per distinct label and one array gather per column.
"""

import numbers

import numpy as np
import pandas as pd
from scipy import sparse
from sklearn.base import BaseEstimator, TransformerMixin
from sklearn.utils.validation import _check_feature_names_in, check_is_fitted, validate_data

from ._labels import MISSING_TEXT as _MISSING_TEXT
from ._labels import STRINGS as _STRINGS
from ._labels import column_cells as _column_cells
from ._labels import encode as _encode
from ._labels import encode_as_text as _encode_as_text

__all__ = ["TextColumnEncoder"]


def _as_table(X):
    """X as tarnix reads it: a DataFrame with positional column names (so any
    column labels do), or a 2-D ndarray/memmap."""
    if isinstance(X, pd.DataFrame):
        table = X.copy(deep=False)
        if type(table) is not pd.DataFrame:
            table = pd.DataFrame(table)
        table.columns = pd.RangeIndex(table.shape[1])
        return table
    if sparse.issparse(X):
        raise TypeError("TextColumnEncoder does not take sparse input; pass a dense "
                        "array or a DataFrame")
    if type(X) not in (np.ndarray, np.memmap):
        X = np.asarray(X)
    if X.ndim != 2:
        raise ValueError(f"Expected a 2-dimensional array or a DataFrame, got an array of "
                         f"shape {X.shape}. Reshape your data, e.g. with X.reshape(-1, 1) "
                         "for a single column.")
    return X


class TextColumnEncoder(TransformerMixin, BaseEstimator):
    """Label-encodes the text columns of a table with codes fitted once.

    A column is numeric when every cell converts to a float, as for
    `tarnix.Encoder`; numeric columns pass through as float64. Each text
    column's distinct labels get the codes 0 .. k-1 in byte order of their
    UTF-8 text (Python's str order), as `Encoder.encode` gives them. Missing
    labels ("nan", "NaN", "<NA>", NaN and None cells) get
    `encoded_missing_value`.

    Parameters
    ----------
    handle_unknown : {"error", "use_encoded_value"}, default="error"
        What a label not seen at fit gives in `transform`: a ValueError
        naming the column and the label, or `unknown_value`.
    unknown_value : float or None, default=None
        The code of unseen labels; required with
        handle_unknown="use_encoded_value" (e.g. -1 or NaN).
    encoded_missing_value : float, default=np.nan
        The code of missing labels.

    Attributes
    ----------
    categories_ : list
        Per column, an object array of the labels in code order (a text
        column), or None (a numeric column).
    n_features_in_ : int
    feature_names_in_ : ndarray of str
        Only when fitted on a DataFrame whose column names are all str.
    """

    def __init__(self, handle_unknown="error", unknown_value=None,
                 encoded_missing_value=np.nan):
        self.handle_unknown = handle_unknown
        self.unknown_value = unknown_value
        self.encoded_missing_value = encoded_missing_value

    def __sklearn_tags__(self):
        tags = super().__sklearn_tags__()
        tags.input_tags.allow_nan = True
        tags.input_tags.string = True
        tags.input_tags.categorical = True
        return tags

    # -- fitting -------------------------------------------------------

    def fit(self, X, y=None):
        """Learns which columns are text and each text column's labels."""
        self._fit(X)
        return self

    def fit_transform(self, X, y=None):
        """`fit(X).transform(X)`, with one encoding of X."""
        codes = self._fit(X)
        for j, categories in enumerate(self.categories_):
            if categories is not None:
                self._fill_missing(codes[:, j])
        return self._output(X, codes)

    def _fit(self, X):
        self._check_params()
        table = _as_table(X)
        validate_data(self, X=X if isinstance(X, pd.DataFrame) else table,
                      skip_check_array=True, reset=True)
        rows, width = table.shape
        if rows == 0 or width == 0:
            raise ValueError(f"Found array with {rows} sample(s) and {width} feature(s) "
                             f"(shape={table.shape}) while a minimum of 1 is required.")
        codes, labels = _encode(table)
        self.categories_ = [labels.get(j) for j in range(width)]
        self._lookup = [None if c is None else c.astype(_STRINGS) for c in self.categories_]
        self._check_codes_unused()
        return codes

    def _check_params(self):
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

    def _check_codes_unused(self):
        """unknown_value and encoded_missing_value must not be the code of a label."""
        sizes = [len(c) for c in self.categories_ if c is not None]
        most = max(sizes, default=0)
        for name in ("unknown_value", "encoded_missing_value"):
            value = getattr(self, name)
            if name == "unknown_value" and self.handle_unknown != "use_encoded_value":
                continue
            value = float(value)
            if value.is_integer() and 0 <= value < most:
                columns = [self._column_name(j) for j, c in enumerate(self.categories_)
                           if c is not None and value < len(c)]
                raise ValueError(f"{name}={value:g} is the code of a label in the columns "
                                 f"{columns}; pick a negative value or NaN")

    # -- transforming --------------------------------------------------

    def transform(self, X):
        """Codes of the fitted labels; see the class documentation."""
        check_is_fitted(self)
        table = _as_table(X)
        validate_data(self, X=X if isinstance(X, pd.DataFrame) else table,
                      skip_check_array=True, reset=False)
        codes, labels = _encode(table)
        for j in [j for j in labels if self.categories_[j] is None]:
            codes[:, j] = self._numbers_of(table, j, labels.pop(j))
        # A column that was text at fit may hold only numbers (or only
        # missing cells) now: its cells are labels all the same.
        relabel = [j for j, c in enumerate(self.categories_) if c is not None and j not in labels]
        if relabel:
            more_codes, more_labels = _encode_as_text(table, relabel)
            for i, j in enumerate(relabel):
                codes[:, j] = more_codes[:, i]
                labels[j] = more_labels[i]
        for j, own in labels.items():
            if self.categories_[j] is not None:
                self._recode(codes[:, j], own, j)
        return self._output(X, codes)

    def _numbers_of(self, table, j, labels):
        """The values of column j, numeric at fit, where the table holds
        non-numbers in it: missing cells (None, NaN, pandas.NA) are NaN, any
        other cell that is not a number is an error."""
        cells = _column_cells(table, j)
        missing = pd.isna(cells)
        missing[~missing] = [type(c) is str and c in _MISSING_TEXT for c in cells[~missing]]
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

    def _recode(self, column, own, j):
        """Replaces the table's own codes in `column` (own labels in code
        order) by the fitted codes, in place."""
        fitted = self._lookup[j]
        size = len(own)
        where = np.zeros(size, dtype=np.intp)
        seen = np.zeros(size, dtype=bool)
        if size and len(fitted):
            own_text = own.astype(_STRINGS)
            where = np.searchsorted(fitted, own_text)
            seen = where < len(fitted)
            seen[seen] = fitted[where[seen]] == own_text[seen]
        if self.handle_unknown == "error" and not seen.all():
            raise ValueError(f"Found unknown label {own[np.argmin(seen)]!r} in column "
                             f"{self._column_name(j)!r} during transform")
        target = np.empty(size + 1)
        target[:size] = np.where(seen, where, self.unknown_value if not seen.all() else 0)
        target[size] = self.encoded_missing_value
        missing = np.isnan(column)
        column[missing] = size
        column[:] = target[column.astype(np.intp)]

    def _fill_missing(self, column):
        if not np.isnan(self.encoded_missing_value):
            column[np.isnan(column)] = self.encoded_missing_value

    def _output(self, X, codes):
        if isinstance(X, pd.DataFrame):
            return pd.DataFrame(codes, index=X.index, columns=X.columns, copy=False)
        return codes

    # -- inverse -------------------------------------------------------

    def inverse_transform(self, X):
        """Labels back from codes: an object array (numeric cells as floats)
        or a DataFrame whose text columns hold str, with None for missing and
        unknown codes; numeric columns keep their values."""
        check_is_fitted(self)
        if isinstance(X, pd.DataFrame):
            columns = [X.iloc[:, j].to_numpy(dtype=np.float64, na_value=np.nan)
                       for j in range(X.shape[1])]
        else:
            values = _as_table(X).astype(np.float64, copy=False)
            columns = list(values.T)
        if len(columns) != self.n_features_in_:
            raise ValueError(f"X has {len(columns)} features, but TextColumnEncoder is "
                             f"expecting {self.n_features_in_} features as input")
        for j, categories in enumerate(self.categories_):
            if categories is not None:
                codes = columns[j]
                known = (codes >= 0) & (codes < len(categories)) & (codes == np.floor(codes))
                labels = np.full(len(codes), None, dtype=object)
                labels[known] = categories[codes[known].astype(np.intp)]
                columns[j] = labels
        if isinstance(X, pd.DataFrame):
            # Labels stay an object column (pandas would make str columns of
            # them, with NaN for None).
            out = pd.DataFrame({j: pd.Series(column, index=X.index, dtype=column.dtype, copy=False)
                                for j, column in enumerate(columns)}, index=X.index)
            out.columns = X.columns
            return out
        out = values.astype(object)
        for j, categories in enumerate(self.categories_):
            if categories is not None:
                out[:, j] = columns[j]
        return out

    # -- names ---------------------------------------------------------

    def get_feature_names_out(self, input_features=None):
        """The input's column names: one output column per input column."""
        check_is_fitted(self, "n_features_in_")
        return _check_feature_names_in(self, input_features)

    def _column_name(self, j):
        names = getattr(self, "feature_names_in_", None)
        return str(names[j]) if names is not None else j


def _is_real(value):
    return isinstance(value, numbers.Real) and not isinstance(value, (bool, np.bool_))
