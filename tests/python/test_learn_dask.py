"""TextColumnEncoder on a Dask DataFrame: fitted on the workers of a local
cluster, the same mapping and codes as on the concatenated pandas frame."""

import numpy as np
import pandas as pd
import pytest

pytest.importorskip("sklearn")
dd = pytest.importorskip("dask.dataframe")
distributed = pytest.importorskip("distributed")

from tarnix_learn import TextColumnEncoder  # noqa: E402


@pytest.fixture(scope="module")
def client():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster:
        with distributed.Client(cluster) as client:
            yield client


def _frame(n=3000, seed=11):
    rng = np.random.default_rng(seed)
    words = np.array([f"w{i}" for i in range(40)], dtype=object)
    text = words[rng.zipf(1.6, n) % 40]
    text[rng.random(n) < 0.03] = None
    # numbers in some partitions only, text elsewhere
    mixed = np.where(np.arange(n) < n // 2, rng.integers(0, 5, n).astype(object), "t")
    return pd.DataFrame({"a": text, "n": rng.random(n), "mixed": pd.Series(mixed, dtype=object),
                         "nums": pd.Series(rng.integers(0, 3, n), dtype=object)})


@pytest.mark.parametrize("params", [
    {},
    {"min_frequency": 0.02, "max_categories": 6, "handle_unknown": "use_encoded_value",
     "unknown_value": -1, "dtype": np.float32},
])
def test_dask_equals_pandas(client, params):
    ddf = dd.from_pandas(_frame(), npartitions=7)
    whole = ddf.compute()
    ours = TextColumnEncoder(**params).fit(ddf)
    theirs = TextColumnEncoder(**params).fit(whole)
    for a, b in zip(ours.categories_ + ours.infrequent_categories_,
                    theirs.categories_ + theirs.infrequent_categories_):
        assert (a is None and b is None) or a.tolist() == b.tolist()
    codes = ours.transform(ddf)
    assert type(codes).__module__.startswith("dask")
    pd.testing.assert_frame_equal(codes.compute(), theirs.transform(whole))
    pd.testing.assert_frame_equal(ours.inverse_transform(codes).compute(),
                                  theirs.inverse_transform(theirs.transform(whole)))
    with pytest.raises(ValueError, match="feature names"):
        ours.transform(ddf[["n", "a", "mixed", "nums"]])
