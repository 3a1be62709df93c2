"""Many Python threads encoding and decoding at once, on one shared Encoder or on one each."""

import os
import random
import sys
import textwrap
import threading
import time

import numpy as np
import pandas as pd
import pytest

import tarnix
from conftest import fingerprint, obj_array, run_python

pytestmark = pytest.mark.threads

THREADS, OPS = 8, 30
BORROWED, MUTABLY = "Already borrowed", "Already mutably borrowed"


class Slow:
    """A text cell whose str() lets other threads run (it drops the GIL where there is one)."""

    def __init__(self, text):
        self.text = text

    def __float__(self):
        raise TypeError("not a number")

    def __str__(self):
        time.sleep(0)
        return self.text


def slow(*words):
    return [Slow(w) for w in words]


ROWS = 12
FRUIT = slow("pear", "apple", "kiwi", "fig") * 3
TABLES = [
    obj_array([[FRUIT[r], r * 0.5, ["x", "nan", "é"][r % 3]] for r in range(ROWS)]),
    pd.DataFrame({"city": slow("Oslo", "Bergen", "Tromsø") * 4, "n": range(ROWS),
                  "s": pd.array(["b", None, "a"] * 4, dtype="string")}),
    obj_array([[r, Slow(f"w{r % 5}"), Slow("<NA>" if r % 4 else "z")] for r in range(ROWS)]),
    np.arange(ROWS * 3, dtype=np.float64).reshape(ROWS, 3),  # fast path: leaves no record
    np.arange(ROWS * 3, dtype=np.int64).reshape(ROWS, 3),  # no text column: an empty record
]


def encoded(table):
    return tarnix.Encoder().encode(table)


ENCODED = [fingerprint(encoded(t)) for t in TABLES]
CODES = np.array([[0.0, 1.0, 2.5]] * 4 + [[np.nan, -1, 9]])
DECODE_INPUTS = [encoded(t) for t in TABLES[:3]] + [TABLES[0], TABLES[1], CODES]


def decoded_with(record_table, src):
    enc = tarnix.Encoder()
    enc.encode(record_table)
    return fingerprint(enc.decode(src))


# DECODED[k][d]: decoding input d under the record that encoding table k leaves
DECODED = [[decoded_with(t, d) for d in DECODE_INPUTS] for t in TABLES]


@pytest.fixture(autouse=True)
def frequent_switches():
    old = sys.getswitchinterval()
    sys.setswitchinterval(1e-5)
    yield
    sys.setswitchinterval(old)


def run_threads(work):
    errors, barrier = [], threading.Barrier(THREADS)

    def body(i):
        try:
            barrier.wait(timeout=60)
            work(i)
        except BaseException as e:  # PanicException included
            errors.append(e)

    threads = [threading.Thread(target=body, args=(i,)) for i in range(THREADS)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=300)
    assert not any(t.is_alive() for t in threads), "a thread hangs"
    assert errors == []


def test_one_shared_encoder():
    enc = tarnix.Encoder()
    enc.encode(TABLES[0])
    conflicts, done = [], []

    def work(i):
        rng = random.Random(i)
        for _ in range(OPS):
            if rng.random() < 0.4:
                k = rng.randrange(len(TABLES))
                try:
                    assert fingerprint(enc.encode(TABLES[k])) == ENCODED[k]
                except RuntimeError as e:
                    assert str(e) == BORROWED
                    conflicts.append("encode")
                    time.sleep(0.001)
                    continue
            else:
                d = rng.randrange(len(DECODE_INPUTS))
                try:
                    got = fingerprint(enc.decode(DECODE_INPUTS[d]))
                except RuntimeError as e:
                    assert str(e) == MUTABLY
                    conflicts.append("decode")
                    time.sleep(0.001)
                    continue
                # decoded under one whole record, whichever encode came last
                assert any(got == DECODED[k][d] for k in range(len(TABLES)))
            done.append(1)

    run_threads(work)
    assert conflicts, "no call ever overlapped another"
    assert done


def test_one_encoder_per_thread():
    def work(i):
        rng, enc = random.Random(100 + i), tarnix.Encoder()
        k = i % len(TABLES)
        enc.encode(TABLES[k])
        for _ in range(OPS):
            if rng.random() < 0.3:
                k = rng.randrange(len(TABLES))
                assert fingerprint(enc.encode(TABLES[k])) == ENCODED[k]
            else:
                d = rng.randrange(len(DECODE_INPUTS))
                assert fingerprint(enc.decode(DECODE_INPUTS[d])) == DECODED[k][d]

    run_threads(work)


def test_shared_decoders_never_conflict():
    enc = tarnix.Encoder()
    enc.encode(TABLES[2])

    def work(i):
        rng = random.Random(200 + i)
        for _ in range(OPS):
            d = rng.randrange(len(DECODE_INPUTS))
            assert fingerprint(enc.decode(DECODE_INPUTS[d])) == DECODED[2][d]

    run_threads(work)


def test_daemon_threads_still_calling_at_exit():
    # The interpreter ends daemon threads wherever they next take the GIL: inside a cell's
    # __str__ called from the native reader, on leaving the detached native stage, or inside
    # pandas while a decoded frame is built.
    run_python("""
        import threading, time, numpy as np, pandas as pd, tarnix
        class Cell:
            def __init__(self, i): self.i = i
            def __float__(self): raise TypeError
            def __str__(self): return "k%d" % sum(range(self.i % 50))
        cells = np.array([[Cell(i), f"{i % 11}é"] for i in range(2000)], dtype=object)
        frame = pd.DataFrame({"s": [f"k{i % 5}" for i in range(200)], "n": np.arange(200)})
        numbers = np.ones((100_000, 4), dtype=np.int32)
        def loop(table):
            enc = tarnix.Encoder()
            while True:
                enc.decode(enc.encode(table))
        for table in (cells, numbers, frame):
            threading.Thread(target=loop, args=(table,), daemon=True).start()
        time.sleep(0.3)
        print("ok")
    """, runs=3)


def test_categorical_written_while_it_is_encoded():
    # The native stage reads the codes with the interpreter released; each row must be coded by
    # the category it held when read, never by one read at another time.
    half = 500_000
    df = pd.DataFrame({"x": pd.Categorical(["b"] * half + ["a"] * half, categories=["a", "b", "c"])})
    stop = threading.Event()

    def write_in_place():
        for k in range(10**9):
            if stop.is_set():
                return
            df.iloc[:half, 0] = "cb"[k % 2]

    writer = threading.Thread(target=write_in_place)
    writer.start()
    enc = tarnix.Encoder()
    try:
        deadline = time.monotonic() + 2
        while time.monotonic() < deadline:
            labels = enc.decode(enc.encode(df))["x"].to_numpy()
            assert set(labels[:half]) <= {"b", "c"} and set(labels[half:]) == {"a"}
    finally:
        stop.set()
        writer.join()


# A process made by fork() while another thread of the parent encodes gets a pool of its own,
# as large as the parent's (3 threads here: the caller and 2 helpers); nothing hangs.
FORK_PRELUDE = """
    import os, threading, time, warnings
    os.environ["RAYON_NUM_THREADS"] = "3"
    import numpy as np, tarnix
    warnings.simplefilter("ignore", DeprecationWarning)  # fork() with threads
    big = np.array([f"v{i % 50_000}" for i in range(200_000)], dtype=object).reshape(-1, 2)
    started = threading.Event()
    def busy():
        enc = tarnix.Encoder()
        while True:
            started.set()
            enc.encode(big)
    threading.Thread(target=busy, daemon=True).start()
    started.wait()
    time.sleep(0.1)
    def encode_in_child(large):
        if large:  # rows enough to run on every thread of the pool
            tarnix.Encoder().encode(big[:100_000])
        return tarnix.Encoder().encode(np.array([["a"], ["b"]], dtype=object)).tolist()
"""
FORKS = {
    "multiprocessing": """
        import multiprocessing
        with multiprocessing.get_context("fork").Pool(2) as workers:
            got = workers.map_async(encode_in_child, [True, False] * 3).get(timeout=60)
        assert got == [[[0.0], [1.0]]] * 6, got
    """,
    "os.fork": """
        for attempt in range(3):
            time.sleep(0.03)
            pid = os.fork()
            if pid == 0:
                alone = len(os.listdir("/proc/self/task"))  # an emulator's own threads too (qemu)
                right = encode_in_child(True) == [[0.0], [1.0]]
                os._exit(0 if right and len(os.listdir("/proc/self/task")) == alone + 2 else 3)
            deadline = time.monotonic() + 60
            while (done := os.waitpid(pid, os.WNOHANG))[0] == 0:
                if time.monotonic() > deadline:
                    os.kill(pid, 9)
                    raise AssertionError("the child hangs")
                time.sleep(0.02)
            assert os.waitstatus_to_exitcode(done[1]) == 0, done
    """,
}


# GCC 12's address sanitizer holds no lock of its allocator across fork(): a
# child can inherit one that a parent thread held while allocating, and wait
# on it for ever. The sanitizer runs preload it into the interpreter.
@pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                    reason="the preloaded address sanitizer is not fork-safe in a busy process")
@pytest.mark.parametrize("start", FORKS)
def test_fork_while_a_thread_encodes(start):
    run_python(textwrap.dedent(FORK_PRELUDE) + textwrap.dedent(FORKS[start]) + "print('ok')\n")
