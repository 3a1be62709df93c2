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

import tarnix_learn  # noqa: E402
from conftest import column, obj_array  # noqa: E402
from tarnix_learn import TextColumnEncoder  # noqa: E402
from tarnix_learn._native import find_sorted, merge_runs  # noqa: E402

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


def _text_table(n=400, seed=7):
    """Two text columns whose labels occur from once to n/3 times, with None."""
    rng = np.random.default_rng(seed)
    weights = np.array([40, 20, 10, 6, 3, 2, 1, 1, 0.5, 0.2])
    words = np.array(["Ideal", "Good", "Fair", "Premium", "Very Good", "é", "Z", "a", "b", "c"],
                     dtype=object)

    def cells():
        out = words[rng.choice(len(words), n, p=weights / weights.sum())]
        out[rng.random(n) < 0.05] = None
        return out
    return pd.DataFrame({"cut": cells(), "color": cells()})


def _as_kind(frame, kind):
    if kind == "polars":
        return pytest.importorskip("polars").from_pandas(frame.astype(object))
    if kind == "arrow":
        return pytest.importorskip("pyarrow").Table.from_pandas(frame, preserve_index=False)
    if kind == "array":
        return frame.to_numpy()
    return frame.astype({"object": object, "str": "str", "category": "category"}[kind])


def _numpy(out):
    if isinstance(out, np.ndarray):
        return out
    if hasattr(out, "column_names"):  # an Arrow table
        return np.column_stack([column.to_numpy() for column in out.columns])
    return out.to_numpy()


NATURAL = [["Fair", "Good", "Very Good", "Premium", "Ideal", "Z", "never"],
           ["Ideal", "Premium", "Very Good", "Good", "Fair", "é", "Z", "a", "b", "c"]]
# Parameters given to both encoders (their categories get NaN added for OrdinalEncoder).
OPTIONS = {
    "defaults": {},
    "min_frequency-count": {"min_frequency": 9},
    "min_frequency-share": {"min_frequency": 0.05},
    "max_categories": {"max_categories": 4},
    "both-limits": {"min_frequency": 3, "max_categories": 6},
    "max_categories-1": {"max_categories": 1},
    "categories": {"categories": NATURAL},
    "every-option": {"categories": NATURAL, "min_frequency": 2, "max_categories": 5,
                     "dtype": np.float32, "encoded_missing_value": -2},
    "int-dtype": {"dtype": np.int64, "encoded_missing_value": -2},
}


@pytest.mark.parametrize("kind", ["object", "str", "category", "array", "polars", "arrow"])
@pytest.mark.parametrize("option", OPTIONS)
def test_options_equal_ordinal_encoder(option, kind):
    params = dict(OPTIONS[option], handle_unknown="use_encoded_value", unknown_value=-1)
    theirs_params = dict(params)
    if "categories" in params:
        theirs_params["categories"] = [c + [nan] for c in params["categories"]]
    frame = _text_table()
    fit, scored = frame[:300], frame[250:].replace({"b": "unseen"})
    theirs = OrdinalEncoder(**theirs_params).fit(_as_sklearn_sees(fit, [0, 1]))
    ours = TextColumnEncoder(**params)
    fitted = ours.fit_transform(_as_kind(fit, kind))
    for j in range(2):
        want = [c for c in theirs.categories_[j].tolist() if c is not nan]
        assert ours.categories_[j].tolist() == want
        infrequent = theirs.infrequent_categories_[j] if hasattr(theirs, "_infrequent_indices") else None
        assert (ours.infrequent_categories_[j] is None) == (infrequent is None)
        if infrequent is not None:
            assert ours.infrequent_categories_[j].tolist() == infrequent.tolist()
    want = theirs.transform(_as_sklearn_sees(scored, [0, 1]))
    got = _numpy(ours.transform(_as_kind(scored, kind)))
    assert got.dtype == want.dtype
    np.testing.assert_array_equal(got, want)
    np.testing.assert_array_equal(_numpy(fitted), theirs.transform(_as_sklearn_sees(fit, [0, 1])))
    # (scikit-learn's inverse_transform fails on missing and infrequent cells)
    cells = fit.to_numpy()
    cells[pd.isna(cells)] = None
    for j, infrequent in enumerate(ours.infrequent_categories_):
        cells[~np.isin(cells[:, j], ours.categories_[j]), j] = None
        if infrequent is not None:
            cells[np.isin(cells[:, j], infrequent), j] = "infrequent_sklearn"
    np.testing.assert_array_equal(_numpy(ours.inverse_transform(fitted)), cells)


@pytest.mark.parametrize("params, error", [
    ({"categories": [["Fair"], ["Ideal"]]}, "unknown categories"),
    ({"categories": [["Fair", "Fair"], None]}, "duplicate"),
    ({"categories": [["Fair"]]}, "Shape mismatch"),
    ({"dtype": np.int32}, "missing values"),
    ({"min_frequency": 0}, "min_frequency"),
    ({"max_categories": 0}, "max_categories"),
])
def test_bad_options(params, error):
    with pytest.raises(ValueError, match=error):
        TextColumnEncoder(**params).fit(_text_table())


# chunks of _text_table with columns of other kinds beside: a column only some
# chunks hold text in, one text column missing from a whole chunk
def _chunked_table():
    frame = _text_table(600)
    frame["n"] = np.arange(600.0)
    frame["mixed"] = pd.Series(np.where(np.arange(600) % 7, None, "x"), dtype=object)
    frame.loc[:199, "cut"] = None
    return frame


@pytest.mark.parametrize("merge_at", [None, 0])  # chunks merged when needed, or as they come
@pytest.mark.parametrize("option", ["defaults", "both-limits", "min_frequency-share", "every-option"])
@pytest.mark.parametrize("chunks", [1, 3, 7])
def test_partial_fit_equals_one_fit(option, chunks, merge_at, monkeypatch):
    if merge_at is not None:
        monkeypatch.setattr(tarnix_learn, "MERGE_AT", merge_at)
    params = dict(OPTIONS[option], handle_unknown="use_encoded_value", unknown_value=-1)
    if "categories" in params:
        params["categories"] = params["categories"] + [None, None]
    frame = _chunked_table()
    whole = TextColumnEncoder(**params).fit(frame)
    parts = TextColumnEncoder(**params)
    for chunk in np.array_split(np.arange(len(frame)), chunks):
        parts.partial_fit(frame.iloc[chunk])
    pd.testing.assert_frame_equal(parts.transform(frame), whole.transform(frame))
    for ours, theirs in zip(parts.categories_ + parts.infrequent_categories_,
                            whole.categories_ + whole.infrequent_categories_):
        assert (ours is None and theirs is None) or ours.tolist() == theirs.tolist()


# params, first chunk's cells, second chunk's cells: the second partial_fit's error
@pytest.mark.parametrize("params, first, second, error", [
    ({}, [1.0, 2.0], ["x"], "'n' holds numbers in one table and text"),
    ({"categories": [["a", "b"]]}, ["a"], ["b", "c"], r"unknown categories \['c'\]"),
    ({"dtype": np.int64}, ["a"], ["b", None], "There are missing values"),
    ({"handle_unknown": "use_encoded_value", "unknown_value": 1}, ["a"], ["b"], "unknown_value=1 is the code"),
])
def test_partial_fit_fails_at_the_chunk(params, first, second, error):
    enc = TextColumnEncoder(**params).partial_fit(pd.DataFrame({"n": first}))
    with pytest.raises(ValueError, match=error):
        enc.partial_fit(pd.DataFrame({"n": pd.Series(second, dtype=object)}))
    with pytest.raises(ValueError, match="feature names"):
        enc.partial_fit(pd.DataFrame({"m": [1.0]}))


# runs of labels (each sorted by code point) -> merge_runs' result, or its error
@pytest.mark.parametrize("runs, error", [
    ([["a", "b"], ["a", "c"], []], None),
    ([["b"], [], ["", "a", "b"], ["c"], ["", "a", "c", "d"]], None),
    # the first 8 bytes equal, or one label the other's beginning
    ([["abcdefgh1", "abcdefgh2"], ["abcdefgh", "abcdefgh10", "abcdefgh2"]], None),
    ([["a", "a\x00", "ab"], ["a\x00b", "a\x01"]], None),
    # bytes above 0x7f after every ASCII byte; 4-byte UTF-8 after 3-byte
    ([["Z", "z", "é", "\uffff"], ["\x7f", "\x80", "Å", "\U0001f600"]], None),
    ([["a"], ["b", "a"]], r"runs\[1\]\[1\] is not greater"),
    ([["a", "a"]], "not greater"),
    ([["a", 1]], "not a str"),
])
@pytest.mark.parametrize("counted", [False, True])
def test_merge_runs(runs, error, counted):
    arrays = [np.array(run, dtype=object) for run in runs]
    counts = [np.arange(1, len(run) + 1, dtype=np.int64) * (r + 1) for r, run in enumerate(runs)]
    if error:
        with pytest.raises((ValueError, TypeError), match=error):
            merge_runs(arrays, counts if counted else None)
        return
    labels, summed = merge_runs(arrays, counts if counted else None)
    everything = [label for run in runs for label in run]
    assert labels.tolist() == sorted(set(everything))
    if not counted:
        assert summed is None
        return
    want = dict.fromkeys(labels.tolist(), 0)
    for run, count in zip(runs, counts):
        for label, c in zip(run, count.tolist()):
            want[label] += c
    assert summed.dtype == np.int64 and summed.tolist() == list(want.values())


# sorted labels, keys -> positions of the keys among them (-1: absent), None: keys out of order
@pytest.mark.parametrize("sorted_labels, keys, want", [
    (["a", "b", "c"], ["a", "c", "d"], [0, 2, -1]),
    (["a", "b", "c"], [], []),
    ([], ["a"], [-1]),
    # a few keys among many labels, past the last, before the first
    ([f"k{i:04d}" for i in range(1000)], ["A", "k0007", "k0500", "k05000", "k0999", "z"],
     [-1, 7, 500, -1, 999, -1]),
    (["Z", "z", "é", "\uffff", "\U0001f600"], ["\x7f", "é", "\U0001f600"], [-1, 2, 4]),
    (["a", "b"], ["b", "a"], None),
    (["a", "b"], ["a", "a"], None),
])
def test_find_sorted(sorted_labels, keys, want):
    got = find_sorted(np.array(sorted_labels, dtype=object), np.array(keys, dtype=object))
    assert (got if got is None else got.tolist()) == want


@pytest.mark.parametrize("kind", ["polars", "arrow"])
def test_table_column_names(kind):
    frame = _text_table()
    enc = TextColumnEncoder(handle_unknown="use_encoded_value", unknown_value=-1)
    out = enc.fit_transform(_as_kind(frame, kind))
    assert type(out).__module__.split(".")[0] == ("polars" if kind == "polars" else "pyarrow")
    assert list(enc.feature_names_in_) == ["cut", "color"]
    with pytest.raises(ValueError, match="feature names"):
        enc.transform(_as_kind(frame[["color", "cut"]], kind))
    back = enc.inverse_transform(out)
    assert type(back) is type(out) and list(back.columns if kind == "polars" else back.column_names) == ["cut", "color"]


@pytest.mark.parametrize("output", ["polars", "pandas"])
@pytest.mark.parametrize("kind", ["object", "array", "polars", "arrow"])
def test_set_output(output, kind):
    pl = pytest.importorskip("polars")
    frame = _text_table()
    enc = TextColumnEncoder().set_output(transform=output)
    table = _as_kind(frame, kind)
    for out in (enc.fit_transform(table), enc.transform(table)):
        assert isinstance(out, pl.DataFrame if output == "polars" else pd.DataFrame)
        assert list(out.columns) == (["x0", "x1"] if kind == "array" else ["cut", "color"])
        np.testing.assert_array_equal(_numpy(out), _numpy(TextColumnEncoder().fit_transform(table)))


def test_annotations_pass_mypy_strict(tmp_path):
    """The package's own annotations, and a user's code checked against them."""
    pytest.importorskip("mypy")
    pytest.importorskip("polars")  # the package's polars route is typed against it
    import pathlib
    import shutil
    import subprocess
    import sys

    import tarnix_learn

    (tmp_path / "user.py").write_text(
        "import numpy as np\nimport pandas as pd\nfrom tarnix_learn import TextColumnEncoder\n"
        "enc: TextColumnEncoder = TextColumnEncoder(min_frequency=2, max_categories=3).fit(\n"
        "    pd.DataFrame({'a': ['x', 'y']}))\n"
        "names: np.ndarray = enc.get_feature_names_out()\n"
        "TextColumnEncoder(max_categories='3')\n")
    config = pathlib.Path(__file__).parents[2] / "pyproject.toml"
    # A copy of the package's sources, so that mypy checks them as a root.
    shutil.copytree(pathlib.Path(tarnix_learn.__file__).parent, tmp_path / "tarnix_learn",
                    ignore=shutil.ignore_patterns("__pycache__"))
    run = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--show-error-codes", "--no-error-summary",
         "--config-file", str(config), "--cache-dir", str(tmp_path / "cache"),
         "tarnix_learn", "user.py"],
        cwd=tmp_path, capture_output=True, text=True, timeout=300)
    errors = [line for line in run.stdout.splitlines() if ": error:" in line]
    assert len(errors) == 1 and errors[0].startswith("user.py:7:") and "[arg-type]" in errors[0], \
        run.stdout + run.stderr
