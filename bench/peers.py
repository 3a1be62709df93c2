"""The encoders compared, each behind the same small interface.

A peer is made for one input table (`Layout`) and offers:
- `prepare(data)`: untimed set-up that a user would not repeat per call;
- `encode(data)`: the float64 code matrix (tarnix: its DataFrame or array);
- `decode_input(encoded)`: untimed, what the peer's decode takes;
- `decode(x)`: the labels back (a list of columns for frames, an object
  array for arrays), or `decodes = False` when the peer does no decoding.
All of them give codes 0..k-1 in sorted label order with NaN for missing.
"""

import warnings

import numpy as np
import pandas as pd

warnings.filterwarnings("ignore", message="inverse_transform is not supported")


class Layout:
    """Where the text and numeric columns of an input table are."""

    def __init__(self, data, text_positions):
        self.is_frame = isinstance(data, pd.DataFrame)
        self.rows, self.width = data.shape
        self.names = [str(c) for c in data.columns] if self.is_frame else None
        self.text = tuple(text_positions)
        self.numeric = tuple(j for j in range(self.width) if j not in self.text)
        self.all_text = not self.numeric

    def column(self, data, j):
        return data.iloc[:, j] if self.is_frame else data[:, j]

    def text_table(self, data):
        if self.all_text:
            return data
        if self.is_frame:
            return data[[self.names[j] for j in self.text]]
        return data[:, list(self.text)]

    def codes_matrix(self, text_codes, data):
        """Puts per-text-column codes and the numeric columns (as float64) in
        one matrix, in the input's column order."""
        out = np.empty((self.rows, self.width), order="F")
        for j, codes in zip(self.text, text_codes):
            out[:, j] = codes
        for j in self.numeric:
            column = self.column(data, j)
            # A frame's column may be a masked or Arrow array: missing -> NaN.
            out[:, j] = (column.to_numpy(dtype=np.float64, na_value=np.nan) if self.is_frame
                         else np.asarray(column, dtype=np.float64))
        return out

    def decoded(self, text_labels, codes):
        """Labels of the text columns plus the numeric columns of `codes`."""
        if not self.is_frame:
            out = np.empty((self.rows, self.width), dtype=object)
            for j, labels in zip(self.text, text_labels):
                out[:, j] = labels
            return out
        columns = [codes[:, j] for j in range(self.width)]
        for j, labels in zip(self.text, text_labels):
            columns[j] = labels
        return columns


class Peer:
    decodes = True
    # False: not an encoder (a floor), its output is not checked against tarnix's.
    checked = True
    # False: encode runs once, for the output checks, and is not timed (the
    # same encode is timed under another peer).
    times_encode = True
    # True: decode gives exactly tarnix's decoded DataFrame (values, dtypes,
    # column names, index), checked before timing.
    same_output = False
    note = ""

    def __init__(self, layout):
        self.layout = layout

    def prepare(self, data):
        pass

    def decode_input(self, encoded):
        return encoded


class Tarnix(Peer):
    name = "tarnix"

    def __init__(self, layout):
        super().__init__(layout)
        import tarnix

        self.encoder = tarnix.Encoder()

    def encode(self, data):
        return self.encoder.encode(data)

    def decode(self, x):
        return self.encoder.decode(x)


class ScikitLearn(Peer):
    name = "scikit-learn"
    note = ("`OrdinalEncoder(encoded_missing_value=nan)` on the text columns "
            "(`fit_transform` / `inverse_transform`); takes the input as it is")

    def encode(self, data):
        from sklearn.preprocessing import OrdinalEncoder

        self.encoder = OrdinalEncoder(dtype=np.float64, encoded_missing_value=np.nan)
        codes = self.encoder.fit_transform(self.layout.text_table(data))
        if self.layout.all_text:
            return codes
        return self.layout.codes_matrix(codes.T, data)

    def decode(self, x):
        lay = self.layout
        labels = self.encoder.inverse_transform(x if lay.all_text else x[:, list(lay.text)])
        if lay.all_text:
            return labels
        return lay.decoded(labels.T, x)


class PandasFactorize(Peer):
    name = "pandas"
    note = ("`pandas.factorize(column, sort=True)` per text column, codes -1 "
            "turned into NaN; decode by indexing the uniques (plus None)")

    def encode(self, data):
        self.uniques = []
        text_codes = []
        for j in self.layout.text:
            codes, uniques = pd.factorize(self.layout.column(data, j), sort=True)
            text_codes.append(np.where(codes < 0, np.nan, codes))
            self.uniques.append(uniques)
        return self.layout.codes_matrix(text_codes, data)

    def decode(self, x):
        labels = []
        for j, uniques in zip(self.layout.text, self.uniques):
            table = np.append(np.asarray(uniques, dtype=object), None)
            labels.append(table[np.nan_to_num(x[:, j], nan=-1).astype(np.intp)])
        return self.layout.decoded(labels, x)


class PandasFrame(PandasFactorize):
    """The pandas factorize loop whose decode builds exactly tarnix's decoded
    frame. Its encode is the pandas peer's and is not timed again."""

    name = "pandas frame"
    note = ("decode builds the same DataFrame as tarnix's: per text column the uniques (plus None) "
            "indexed by the codes, as an object Series without inference "
            "(`pd.Series(labels, dtype=object, copy=False)`), float columns as they are, "
            "`pd.DataFrame(dict of columns, copy=False)` with the input's column names and a RangeIndex; "
            "encode as pandas")
    times_encode = False
    same_output = True

    def decode(self, x):
        lay = self.layout
        columns = {}
        text = dict(zip(lay.text, self.uniques))
        for j, name in enumerate(lay.names):
            if j in text:
                table = np.append(np.asarray(text[j], dtype=object), None)
                labels = table[np.nan_to_num(x[:, j], nan=-1).astype(np.intp)]
                columns[name] = pd.Series(labels, dtype=object, copy=False)
            else:
                columns[name] = pd.Series(x[:, j], copy=False)
        return pd.DataFrame(columns, copy=False)


class CategoryEncoders(Peer):
    name = "category_encoders"
    note = ("`OrdinalEncoder(mapping=..., handle_missing='return_nan')`; it "
            "numbers labels by first appearance from 1, so the timed call first "
            "builds the sorted label -> code mapping a user has to pass")

    def encode(self, data):
        import category_encoders as ce

        lay = self.layout
        keys = [lay.names[j] for j in lay.text] if lay.is_frame else list(lay.text)
        mapping = []
        for key, j in zip(keys, lay.text):
            labels = pd.Series(lay.column(data, j)).dropna().unique()
            labels = np.sort(np.asarray(labels, dtype=object))
            mapping.append({"col": key, "mapping": pd.Series(np.arange(len(labels)), index=labels)})
        self.encoder = ce.OrdinalEncoder(cols=keys, mapping=mapping,
                                         handle_missing="return_nan", handle_unknown="return_nan")
        return self.encoder.fit_transform(data).to_numpy(dtype=np.float64)

    def decode_input(self, encoded):
        if self.layout.is_frame:
            return pd.DataFrame(encoded, columns=self.layout.names)
        return encoded

    def decode(self, x):
        labels = self.encoder.inverse_transform(x)
        return labels if self.layout.is_frame else labels.to_numpy(dtype=object)


class Polars(Peer):
    """Text columns as polars String series, codes in sorted label order.

    method "enum": cast to an Enum of the column's sorted labels and take the
    physical codes; method "rank": dense rank minus one (same codes, no
    category table). With `prebuilt`, the polars frame is made before timing.
    With `from_arrow`, the text columns are the frame's own Arrow arrays,
    taken by `pl.from_arrow` (Arrow-backed text columns only)."""

    def __init__(self, layout, method="enum", prebuilt=False, from_arrow=False):
        super().__init__(layout)
        self.method, self.prebuilt, self.from_arrow = method, prebuilt, from_arrow
        self.decodes = method == "enum" and not prebuilt
        self.name = ("polars" + ("" if method == "enum" else " rank") + (" prebuilt" if prebuilt else "")
                     + (" from_arrow" if from_arrow else ""))
        self.frame = None
        if prebuilt:
            self.note = "same as polars rank, but the polars frame is built outside the timed call"
        elif from_arrow:
            self.note = ("text columns handed over from the frame's Arrow arrays, no Python object per cell "
                         "(`pl.from_arrow(pyarrow.array(col.array))`), numeric ones from NumPy, "
                         "`cast(pl.Enum(sorted labels)).to_physical()`; decode by `gather`")
        elif method == "enum":
            self.note = ("columns to polars `String` series "
                         "(`pl.Series(col.to_numpy(na_value=None))`), "
                         "`cast(pl.Enum(sorted labels)).to_physical()`; decode by `gather`")
        else:
            self.note = "as polars, with `rank('dense') - 1` for the codes"

    def _polars_frame(self, data):
        import polars as pl

        if self.from_arrow:
            import pyarrow as pa

        lay = self.layout
        series = {}
        for j in range(lay.width):
            column = lay.column(data, j)
            if j in lay.text and self.from_arrow:
                series[f"c{j}"] = pl.from_arrow(pa.array(column.array))
            elif j in lay.text:
                values = column.to_numpy(na_value=None) if lay.is_frame else column
                series[f"c{j}"] = pl.Series(values, dtype=pl.String)
            else:
                series[f"c{j}"] = pl.Series(np.asarray(column))
        return pl.DataFrame(series)

    def prepare(self, data):
        if self.prebuilt:
            self.frame = self._polars_frame(data)

    def encode(self, data):
        import polars as pl

        lay = self.layout
        frame = self.frame if self.prebuilt else self._polars_frame(data)
        exprs = []
        if self.method == "enum":
            self.categories = {}
            for j in lay.text:
                self.categories[j] = frame.get_column(f"c{j}").drop_nulls().unique().sort()
        for j in range(lay.width):
            col = pl.col(f"c{j}")
            if j not in lay.text:
                exprs.append(col.cast(pl.Float64))
            elif self.method == "enum":
                exprs.append(col.cast(pl.Enum(self.categories[j])).to_physical().cast(pl.Float64))
            else:
                exprs.append(col.rank("dense").cast(pl.Float64) - 1.0)
        return frame.select(exprs).to_numpy()

    def decode(self, x):
        import polars as pl

        labels = []
        for j in self.layout.text:
            codes = pl.Series(x[:, j], nan_to_null=True).cast(pl.UInt32)
            labels.append(self.categories[j].gather(codes).to_numpy())
        return self.layout.decoded(labels, x)


def _pandas_peers(layout):
    """The pandas factorize loop, plus its same-output decode for frames."""
    return [PandasFactorize(layout)] + ([PandasFrame(layout)] if layout.is_frame else [])


def table_peers(layout):
    """tarnix first, then every peer that handles a text table."""
    return [Tarnix(layout), ScikitLearn(layout), *_pandas_peers(layout),
            CategoryEncoders(layout), Polars(layout, "enum"), Polars(layout, "rank"),
            Polars(layout, "rank", prebuilt=True)]


def arrow_table_peers(layout):
    """table_peers, plus polars reading the frame's Arrow text columns."""
    return table_peers(layout) + [Polars(layout, from_arrow=True)]


def factorize_peers(layout):
    return [Tarnix(layout), *_pandas_peers(layout), *floor_peers(layout)]


class OutputFloor(Peer):
    """Not an encoder: allocating and writing a float64 result of the
    output's shape, in the layout of tarnix's."""

    name = "floor: output"
    note = ("not an encoder: `numpy.empty(shape, order=\"F\")` filled once, what allocating and writing "
            "a result of the output's size costs")
    decodes = False
    checked = False

    def encode(self, data):
        out = np.empty((self.layout.rows, self.layout.width), order="F")
        out.fill(0.0)
        return out


def _column_buffers(column):
    """The buffers a frame column's cells lie in, as arrays."""
    array, dtype = column.array, column.dtype
    if isinstance(dtype, pd.CategoricalDtype):
        return [array.codes]
    if hasattr(array, "_pa_array"):
        return [np.frombuffer(buffer, np.uint8) for chunk in array._pa_array.chunks
                for buffer in chunk.buffers() if buffer is not None]
    if hasattr(array, "_mask"):
        return [array._data, array._mask]
    return [np.asarray(column.to_numpy())]


def _as_bytes(array):
    if array.dtype == object:  # the cells' pointers only: the objects are not read
        import ctypes

        return np.ctypeslib.as_array((ctypes.c_uint8 * array.nbytes).from_address(array.ctypes.data))
    return array.reshape(-1).view(np.uint8)


class ReadFloor(Peer):
    """Not an encoder: every byte of the frame's column buffers read once."""

    name = "floor: read"
    note = ("not an encoder: every byte of the columns' buffers read once (`max` of each as bytes; Arrow "
            "buffers, masked values and masks, categorical codes; object columns their pointers only)")
    decodes = False
    checked = False

    def prepare(self, data):
        self.buffers = [_as_bytes(buffer) for j in range(self.layout.width)
                        for buffer in _column_buffers(self.layout.column(data, j))]

    def encode(self, data):
        return [buffer.max() for buffer in self.buffers]


def floor_peers(layout):
    return [OutputFloor(layout), ReadFloor(layout)]


class NumpyCopy(Peer):
    name = "numpy copy"
    note = "`numpy.array(x, copy=True)`: the floor for the float64 fast path"
    decodes = False

    def encode(self, data):
        return np.array(data, copy=True)


def float_peers(layout):
    tarnix_peer = Tarnix(layout)
    tarnix_peer.decodes = False
    return [tarnix_peer, NumpyCopy(layout)]
