"""Fatal internal errors and how they surface as PanicException."""

import numpy as np
import pytest

import tarnix

Encoder = tarnix.Encoder
TABLE = np.array([["oslo", 1], ["bergen", 2]], dtype=object)
# Inputs whose shape is not a (rows, columns) pair end the object path in a fatal error.
NOT_A_PAIR = {
    "1d-object": np.zeros(3, dtype=object),
    "1d-float64": np.zeros(3),
    "1d-str": np.array(["a", "b"]),
    "3d-object": np.zeros((2, 2, 2), dtype=object),
    "3d-float64": np.zeros((1, 2, 3)),
    "0d": np.array(1.0),
}


def catch_panic(call):
    """Runs call, which must end in a PanicException that `except Exception` does not see."""
    try:
        call()
    except Exception as exc:
        raise AssertionError(f"ordinary exception instead of a panic: {exc!r}") from exc
    except BaseException as exc:
        if type(exc).__name__ != "PanicException":
            raise
        return exc
    raise AssertionError("call returned normally")


def panic_type():
    return type(catch_panic(lambda: Encoder().encode(NOT_A_PAIR["1d-object"])))


@pytest.mark.parametrize("name", ["encode", "decode"])
@pytest.mark.parametrize("key", NOT_A_PAIR)
def test_fatal_error_raises_panic(capfd, key, name):
    enc = Encoder()
    capfd.readouterr()
    exc = catch_panic(lambda: getattr(enc, name)(NOT_A_PAIR[key]))
    _, err = capfd.readouterr()
    assert issubclass(type(exc), BaseException) and not issubclass(type(exc), Exception)
    assert len(exc.args) == 1 and isinstance(exc.args[0], str) and exc.args[0]
    assert str(exc) == exc.args[0]
    assert "thread" in err and "panicked at" in err and "src/" in err
    assert exc.args[0] in err
    # Both holds were released on the way out.
    assert np.array_equal(enc.decode(np.zeros((1, 1))), [[0.0]])
    assert np.array_equal(enc.encode(TABLE), [[1.0, 1.0], [0.0, 2.0]])


def test_panic_keeps_stored_record():
    enc = Encoder()
    encoded = enc.encode(TABLE)
    decoded = enc.decode(encoded).tolist()
    assert decoded != encoded.tolist()
    catch_panic(lambda: enc.encode(NOT_A_PAIR["1d-object"]))
    assert enc.decode(encoded).tolist() == decoded


def test_panic_type_is_process_wide():
    first = panic_type()
    second = type(catch_panic(lambda: Encoder().decode(NOT_A_PAIR["3d-object"])))
    assert first is second
    assert first.__bases__ == (BaseException,)
    assert first.__name__ == "PanicException"
    assert "\n\n" in first.__doc__.strip()


class Unprintable:
    def __str__(self):
        raise ValueError("no text")


@pytest.mark.parametrize(
    "arg, message",
    [("boom", "boom"), (Unprintable(), "Unwrapped panic from Python code")],
    ids=["message", "unprintable"],
)
def test_panic_from_python_code_is_resumed(capfd, arg, message):
    panic = panic_type()
    raised = panic(arg)

    class Cell:
        def __float__(self):
            raise TypeError("not a number")

        def __str__(self):
            raise raised

    table = np.empty((2, 2), dtype=object)
    table[:] = [[1.0, "a"], [Cell(), "b"]]
    enc = Encoder()
    capfd.readouterr()
    exc = catch_panic(lambda: enc.encode(table))
    _, err = capfd.readouterr()
    assert type(exc) is panic
    assert exc is not raised
    assert exc.args == (message,)
    assert "Python stack trace below:" in err
    assert err.index("Python stack trace below:") < err.index("Traceback")
    assert "PanicException" in err
    # A resumed panic is not reported again as a new one.
    assert "panicked at" not in err
    assert np.array_equal(enc.encode(TABLE), [[1.0, 1.0], [0.0, 2.0]])
