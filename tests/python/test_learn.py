"""tarnix_learn.TextColumnEncoder: codes fitted once, scikit-learn's transformer API."""

import pickle

import numpy as np
import pandas as pd
import pytest

sklearn = pytest.importorskip("sklearn")
from sklearn.compose import make_column_transformer  # noqa: E402
from sklearn.pipeline import make_pipeline  # noqa: E402
from sklearn.preprocessing import OrdinalEncoder  # noqa: E402
from sklearn.tree import DecisionTreeClassifier  # noqa: E402
from sklearn.utils.estimator_checks import parametrize_with_checks  # noqa: E402

from conftest import column, obj_array  # noqa: E402
from tarnix_learn import TextColumnEncoder  # noqa: E402

nan = np.nan
EXPECTED_FAILED_CHECKS = {
    "check_complex_data": "a complex cell converts to a float (its real part) as in "
                          "Encoder.encode, so a complex column is numeric and passes through",
}


@pytest.mark.filterwarnings("ignore::numpy.exceptions.ComplexWarning")
@parametrize_with_checks([TextColumnEncoder()], expected_failed_checks=lambda _: EXPECTED_FAILED_CHECKS)
def test_sklearn_estimator_checks(estimator, check):
    check(estimator)


def _labels(n, distinct, seed):
    rng = np.random.default_rng(seed)
    words = np.array([f"{w}{i}" for i, w in enumerate(["Oslo", "bergen", "Ålesund", "tromsø", "Z"] *
                                                        (distinct // 5 + 1))][:distinct], dtype=object)
    cells = words[rng.integers(0, distinct, n)]
    cells[rng.random(n) < 0.1] = None
    return cells


def _frame(storage, n=600, seed=0):
    frame = pd.DataFrame({"a": _labels(n, 7, seed), "x": np.arange(n) * 0.5,
                          "b": _labels(n, 300, seed + 1), "i": np.arange(n)})
    dtype = {"object": object, "python": pd.StringDtype("python", na_value=nan),
             "arrow": pd.StringDtype("pyarrow", na_value=nan), "category": "category"}[storage]
    return frame.astype({"a": dtype, "b": dtype})


# name -> (table, positions of its text columns); the scored half holds labels
# of the fitted half only.
KINDS = {
    **{f"frame-{s}": (lambda s=s: _frame(s), [0, 2]) for s in ("object", "python", "arrow", "category")},
    "object-array": (lambda: _frame("object").to_numpy(), [0, 2]),
    # None objects beside the text "None": only the former is missing
    "none-text": (lambda: obj_array([["None"], [None], ["b"], [nan], ["B"], [None]] * 3), [0]),
    # the label "None" from None cells alone is no label
    "none-only": (lambda: obj_array([["a", None], [None, "x"], ["Z", "nan"], ["NaN", "<NA>"]]), [0, 1]),
    "array-few-rows": (lambda: obj_array([["b", 1], ["a", 2], ["b", 3]]), [0]),
}


def _as_sklearn_sees(table, text):
    """The text columns with every missing cell NaN: scikit-learn counts only
    NaN as missing (None becomes a category of its own, "nan" a label)."""
    cells = (table.iloc[:, text] if isinstance(table, pd.DataFrame) else table[:, text]).astype(object)
    cells = np.asarray(cells, dtype=object)
    return np.where(pd.isna(cells) | np.isin(cells, ["nan", "NaN", "<NA>"]), nan, cells)


@pytest.mark.parametrize("kind", KINDS)
def test_codes_equal_ordinal_encoder(kind):
    make, text = KINDS[kind]
    table = make()
    half = table[: len(table) // 2 + 1]
    theirs = OrdinalEncoder(encoded_missing_value=nan, handle_unknown="use_encoded_value",
                            unknown_value=-1).fit(_as_sklearn_sees(half, text))
    ours = TextColumnEncoder(handle_unknown="use_encoded_value", unknown_value=-1)
    fitted = np.asarray(ours.fit_transform(half), dtype=float)
    for j, categories in enumerate(ours.categories_):
        want = theirs.categories_[text.index(j)] if j in text else None
        assert (categories is None) == (want is None)
        if want is not None:
            assert categories.tolist() == [c for c in want.tolist() if c is not nan]
    codes = np.asarray(ours.transform(table), dtype=float)
    np.testing.assert_array_equal(codes[: len(fitted)], fitted)
    np.testing.assert_array_equal(codes[:, text], theirs.transform(_as_sklearn_sees(table, text)))
    numeric = [j for j in range(table.shape[1]) if j not in text]
    want = table.iloc[:, numeric] if isinstance(table, pd.DataFrame) else table[:, numeric]
    np.testing.assert_array_equal(codes[:, numeric], np.asarray(want, dtype=float))


CITY = pd.DataFrame({"city": ["Oslo", "Bergen", None, "Oslo"], "n": [1.0, 2.0, 3.0, nan]})


# params, table given to transform, codes of its "city" column, or the error's match
@pytest.mark.parametrize("params, cities, want", [
    ({}, ["Bergen", "Paris"], "unknown label 'Paris' in column 'city'"),
    ({"handle_unknown": "use_encoded_value", "unknown_value": -1}, ["Paris", "Oslo", None], [-1, 1, nan]),
    ({"handle_unknown": "use_encoded_value", "unknown_value": nan, "encoded_missing_value": -2},
     ["Paris", "nan", "<NA>", "Bergen"], [nan, -2, -2, 0]),
    # a text column that holds numbers (or missing cells) only: still labels
    ({"encoded_missing_value": -2}, [nan, nan], [-2, -2]),
    ({}, [1.0, 2], "unknown label '1.0' in column 'city'"),
])
def test_transform_rules(params, cities, want):
    enc = TextColumnEncoder(**params).fit(CITY)
    table = pd.DataFrame({"city": pd.Series(cities, dtype=object), "n": 7.0})
    if isinstance(want, str):
        with pytest.raises(ValueError, match=want):
            enc.transform(table)
        return
    out = enc.transform(table)
    np.testing.assert_array_equal(out["city"], want)
    np.testing.assert_array_equal(out["n"], 7.0)


# fit table, table given to transform, error's match or the codes of its column "n"
@pytest.mark.parametrize("fit, table, want", [
    (CITY, pd.DataFrame({"city": ["Oslo"], "n": ["x"]}), "'n' was numeric"),
    (CITY.to_numpy(), obj_array([["Oslo", "x"]]), "1 was numeric"),
    # missing cells of any kind are no text
    (CITY, pd.DataFrame({"city": "Oslo", "n": pd.Series([1.0, None, pd.NA, nan, 3], dtype=object)}),
     [1.0, nan, nan, nan, 3.0]),
    (CITY, pd.DataFrame({"city": "Oslo", "n": pd.Series([None, "nan", 2], dtype=object)}), [nan, nan, 2]),
    (CITY, pd.DataFrame({"city": "Oslo", "n": pd.Series([None, "2"], dtype=object)}), "label '2'"),
])
def test_numeric_column_holding_other_cells(fit, table, want):
    enc = TextColumnEncoder(handle_unknown="use_encoded_value", unknown_value=-1).fit(fit)
    if isinstance(want, str):
        with pytest.raises(ValueError, match=want):
            enc.transform(table)
        return
    np.testing.assert_array_equal(enc.transform(table)["n"], want)


# cells of an object column -> its categories_: str() of each cell, wherever it stands
@pytest.mark.parametrize("cells, categories", [
    (["a", 1, 2.5], ["1", "2.5", "a"]),
    ([1.0, "a", 1], ["1", "1.0", "a"]),
    ([1.0, None, 3.0, nan], ["1.0", "3.0"]),
    ([True, 1e20, np.float32(0.5), -0.0, "x", 7], ["-0.0", "0.5", "1e+20", "7", "True", "x"]),
    ([1, 2, 3, "b", 2.0], ["1", "2", "2.0", "3", "b"]),
])
def test_label_is_str_of_cell_in_any_row(cells, categories):
    table = column(cells)
    enc = TextColumnEncoder().fit(table)
    assert enc.categories_[0].tolist() == categories
    codes = enc.transform(table)
    np.testing.assert_array_equal(enc.transform(table[::-1]), codes[::-1])
    for i in range(len(cells)):
        np.testing.assert_array_equal(enc.transform(table[i:i + 1]), codes[i:i + 1])


@pytest.mark.parametrize("params, error", [
    ({"handle_unknown": "use_encoded_value"}, TypeError),
    ({"unknown_value": -1}, TypeError),
    ({"handle_unknown": "ignore"}, ValueError),
    ({"handle_unknown": "use_encoded_value", "unknown_value": 1}, ValueError),
    ({"encoded_missing_value": 0}, ValueError),
])
def test_bad_params(params, error):
    with pytest.raises(error):
        TextColumnEncoder(**params).fit(CITY)


@pytest.mark.parametrize("as_frame", [True, False])
def test_inverse_transform_round_trip(as_frame):
    enc = TextColumnEncoder(handle_unknown="use_encoded_value", unknown_value=-1)
    enc.fit(CITY if as_frame else CITY.to_numpy())
    table = pd.DataFrame({"city": ["Paris", "Oslo", None, "Bergen"], "n": [1.5, nan, 2.0, 3.0]},
                         index=[9, 8, 7, 6])
    if not as_frame:
        table = table.to_numpy()
    labels = enc.inverse_transform(enc.transform(table))
    assert type(labels) is type(table)
    if as_frame:
        assert labels.index.tolist() == [9, 8, 7, 6] and list(labels.columns) == ["city", "n"]
        assert labels["city"].dtype == object and labels["n"].dtype == np.float64
        labels = labels.to_numpy(dtype=object)
    assert labels[:, 0].tolist() == [None, "Oslo", None, "Bergen"]
    np.testing.assert_array_equal(labels[:, 1].astype(float), [1.5, nan, 2.0, 3.0])


@pytest.mark.parametrize("code, label", [(0.0, "Bergen"), (-0.0, "Bergen"), (1.0, "Oslo"), (0.7, None),
                                         (-1.0, None), (2.0, None), (nan, None), (np.inf, None)])
def test_inverse_transform_of_one_code(code, label):
    enc = TextColumnEncoder().fit(CITY)
    assert enc.inverse_transform(np.array([[code, 1.0]]))[0, 0] == label


def test_pickle_keeps_plain_arrays():
    enc = TextColumnEncoder().fit(_frame("arrow"))
    copy = pickle.loads(pickle.dumps(enc))
    for value in vars(copy).values():
        for item in value if isinstance(value, list) else [value]:
            assert type(item).__module__.split(".")[0] in ("numpy", "builtins")
    table = _frame("python", seed=0)
    pd.testing.assert_frame_equal(copy.transform(table), enc.transform(table))


def test_pipeline_and_pandas_output():
    rng = np.random.default_rng(3)
    train = pd.DataFrame({"city": rng.choice(["Oslo", "Bergen", "Tromsø"], 300), "n": rng.random(300)})
    y = (train["city"] == "Bergen").astype(int)
    model = make_pipeline(TextColumnEncoder(handle_unknown="use_encoded_value", unknown_value=-1),
                          DecisionTreeClassifier(random_state=0)).fit(train, y)
    scored = pd.DataFrame({"city": ["Bergen", "Oslo", "Paris", "Tromsø"], "n": 0.5})
    assert model.predict(scored)[[0, 1, 3]].tolist() == [1, 0, 0]  # Paris is unknown: -1

    columns = make_column_transformer((TextColumnEncoder(), ["city"]), remainder="passthrough")
    columns.set_output(transform="pandas")
    train.index = train.index + 100
    out = columns.fit_transform(train)
    assert list(out.columns) == ["textcolumnencoder__city", "remainder__n"]
    assert out.index.equals(train.index)
    np.testing.assert_array_equal(out.iloc[:, 0], train["city"].map({"Bergen": 0, "Oslo": 1, "Tromsø": 2}))

    enc = TextColumnEncoder().set_output(transform="pandas").fit(train.to_numpy())
    out = enc.transform(train.to_numpy())
    assert list(out.columns) == ["x0", "x1"] and out.dtypes.tolist() == [np.float64] * 2
