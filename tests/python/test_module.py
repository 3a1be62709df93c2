"""The module object and the Encoder class as Python sees them."""

import gc
import importlib
import importlib.metadata
import os
import shutil
import subprocess
import sys
import sysconfig
import weakref

import numpy as np
import pytest

import tarnix

Encoder = tarnix.Encoder
FREE_THREADED = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
# What the import system puts into every extension module's namespace.
STANDARD_MODULE_ATTRS = {"__name__", "__doc__", "__package__", "__loader__", "__spec__", "__file__"}
TABLE = np.array([["oslo", 1], ["bergen", 2]], dtype=object)


def test_module_namespace():
    assert tarnix.__all__ == ["Encoder"]
    assert type(tarnix.__all__) is list
    assert set(vars(tarnix)) - STANDARD_MODULE_ATTRS == {"Encoder", "__all__"}
    assert isinstance(tarnix.__doc__, str) and tarnix.__doc__.strip()


def test_class_identity():
    assert isinstance(Encoder, type)
    assert (Encoder.__module__, Encoder.__name__, Encoder.__qualname__) == ("builtins", "Encoder", "Encoder")
    assert Encoder.__bases__ == (object,)
    # Only the two methods; construction goes through __new__, __init__ is object's.
    assert [name for name in vars(Encoder) if not name.startswith("_")] == ["encode", "decode"]
    assert "__init__" not in vars(Encoder)


@pytest.mark.parametrize(
    "obj, signature",
    [(Encoder, "(encoding=None)"), (Encoder.encode, "($self, obj)"), (Encoder.decode, "($self, obj)")],
    ids=["Encoder", "encode", "decode"],
)
def test_text_signature_and_empty_doc(obj, signature):
    assert obj.__text_signature__ == signature
    # Nothing follows the signature: CPython keeps "" for a heap type, None for a method.
    assert obj.__doc__ in ("", None)


def test_reimport_reuses_the_type(monkeypatch):
    monkeypatch.delitem(sys.modules, "tarnix")
    fresh = importlib.import_module("tarnix")
    assert fresh is not tarnix
    assert fresh.Encoder is Encoder
    assert fresh.__all__ == ["Encoder"]
    assert fresh.__all__ is not tarnix.__all__


def test_cannot_subclass():
    with pytest.raises(TypeError, match="not an acceptable base type"):
        class Sub(Encoder):  # noqa: F841
            pass


@pytest.mark.parametrize("name", ["extra", "encode", "__dict__"])
def test_instance_takes_no_new_attributes(name):
    enc = Encoder()
    with pytest.raises(AttributeError):
        setattr(enc, name, 1)
    assert not hasattr(enc, "__dict__")


def test_instance_cannot_be_weakly_referenced():
    with pytest.raises(TypeError):
        weakref.ref(Encoder())


def test_type_accepts_new_attributes():
    Encoder.tag = "x"
    try:
        assert Encoder().tag == "x"
    finally:
        del Encoder.tag
    assert not hasattr(Encoder, "tag")


def test_instance_not_gc_tracked():
    enc = Encoder()
    assert not gc.is_tracked(enc)
    enc.encode(TABLE)
    assert not gc.is_tracked(enc)


def test_instance_keeps_no_reference_to_its_input():
    enc = Encoder()
    table = TABLE.copy()
    ref = weakref.ref(table)
    encoded = enc.encode(table)
    enc.decode(encoded)
    del table
    gc.collect()
    assert ref() is None


@pytest.mark.skipif(FREE_THREADED, reason="heap type refcounts are deferred on free-threaded builds")
def test_instances_release_their_type():
    before = sys.getrefcount(Encoder)
    instances = [Encoder() for _ in range(1000)]
    instances[0].encode(TABLE)
    del instances
    assert sys.getrefcount(Encoder) == before


@pytest.mark.skipif(not FREE_THREADED, reason="needs a free-threaded interpreter")
def test_gil_stays_disabled_after_import_and_use():
    env = {key: value for key, value in os.environ.items() if key != "PYTHON_GIL"}
    code = ("import sys, numpy as np, pandas as pd, tarnix\n"
            "enc = tarnix.Encoder()\n"
            "enc.decode(enc.encode(np.array([['a', 1.5], ['b', None]], dtype=object)))\n"
            "enc.decode(enc.encode(pd.DataFrame({'c': ['x', 'y'] * 600, 'n': range(1200)})))\n"
            "print(sys._is_gil_enabled())")
    run = subprocess.run([sys.executable, "-W", "error", "-c", code], env=env, capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    assert run.stdout.strip() == "False"


@pytest.mark.skipif(not shutil.which("nm"), reason="needs binutils' nm")
def test_only_the_init_function_is_exported():
    listing = subprocess.run(
        ["nm", "-D", "--defined-only", tarnix.__file__], capture_output=True, text=True, check=True
    ).stdout
    assert [line.split()[-1] for line in listing.splitlines() if line.strip()] == ["PyInit_tarnix"]


@pytest.mark.skipif(int(importlib.metadata.version("pandas").split(".")[0]) < 3,
                    reason="text on pandas 3's str dtype")
def test_works_without_pyarrow():
    # pyarrow blocked: pandas keeps text on Python storage, and nothing of the module needs it
    from conftest import run_python

    run_python("""
        import sys
        sys.modules["pyarrow"] = None
        import numpy as np, pandas as pd, tarnix
        text = ["b", None, "a"] * 200
        frame = pd.DataFrame({"s": text, "c": pd.Categorical(text), "n": np.arange(600.0)})
        enc = tarnix.Encoder()
        out = enc.encode(frame)
        assert out.iloc[[0, 2]].to_numpy().tolist() == [[1.0, 1.0, 0.0], [0.0, 0.0, 2.0]], out
        back = enc.decode(out)
        assert back["s"].tolist()[:3] == back["c"].tolist()[:3] == ["b", None, "a"], back
        print("ok")
    """)
