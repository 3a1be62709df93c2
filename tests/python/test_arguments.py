"""Construction and argument matching of Encoder(), encode() and decode()."""

import functools

import numpy as np
import pytest

import tarnix

Encoder = tarnix.Encoder
NOTE = ["while processing 'encoding'"]
X = np.zeros((2, 2))  # valid input: a call that ignored a bad argument would succeed
TABLE = np.array([["oslo", 1], ["bergen", 2]], dtype=object)


class Shouty(str):
    """A str whose str() is not its text."""

    def __str__(self):
        return "SHOUT"


class Holder:
    class Inner:
        pass


def raised(exc_type, call):
    """Runs call, checks it raised exactly exc_type with one str argument, returns the exception."""
    with pytest.raises(exc_type) as info:
        call()
    exc = info.value
    assert type(exc) is exc_type
    assert len(exc.args) == 1 and isinstance(exc.args[0], str)
    assert str(exc) == exc.args[0]
    return exc


POSITIONAL = pytest.param(lambda value: Encoder(value), id="positional")
KEYWORD = pytest.param(lambda value: Encoder(encoding=value), id="keyword")


# --- construction ---------------------------------------------------------------------------

@pytest.mark.parametrize(
    "make",
    [
        lambda: Encoder(),
        lambda: Encoder(None),
        lambda: Encoder("label"),
        lambda: Encoder(encoding=None),
        lambda: Encoder(encoding="label"),
        lambda: Encoder(Shouty("label")),
        lambda: Encoder(encoding=np.str_("label")),
        lambda: Encoder(**{Shouty("encoding"): "label"}),
    ],
)
def test_accepted_encodings(make):
    enc = make()
    assert type(enc) is Encoder
    assert np.array_equal(enc.encode(TABLE), [[1.0, 1.0], [0.0, 2.0]])


@pytest.mark.parametrize(
    "value, text",
    [
        ("Label", "Label"),
        ("", ""),
        ("LABEL", "LABEL"),
        ("label ", "label "),
        (" label", " label"),
        ("labe", "labe"),
        ("labels", "labels"),
        ("label\x00", "label\x00"),
        ("étiquette", "étiquette"),
        ("ラベル", "ラベル"),
        (Shouty("Label"), "Label"),
    ],
)
@pytest.mark.parametrize("make", [POSITIONAL, KEYWORD])
def test_unsupported_strategy(make, value, text):
    exc = raised(ValueError, lambda: make(value))
    assert exc.args[0] == text + " is not a supported encoding strategy for strings!"
    assert not hasattr(exc, "__notes__")


@pytest.mark.parametrize(
    "value, type_name",
    [
        (1, "int"),
        (1.5, "float"),
        (True, "bool"),
        (b"label", "bytes"),
        (bytearray(b"label"), "bytearray"),
        (["label"], "list"),
        (object(), "object"),
        (Encoder, "type"),
        (np.bytes_(b"label"), "bytes_"),
        (Holder.Inner(), "Holder.Inner"),
    ],
)
@pytest.mark.parametrize("make", [POSITIONAL, KEYWORD])
def test_encoding_of_wrong_type(make, value, type_name):
    exc = raised(TypeError, lambda: make(value))
    assert exc.args[0] == f"'{type_name}' object is not an instance of 'str'"
    assert exc.__notes__ == NOTE


@pytest.mark.parametrize("text", ["\ud800", "label\udfff"])
@pytest.mark.parametrize("make", [POSITIONAL, KEYWORD])
def test_encoding_without_utf8_form(make, text):
    with pytest.raises(UnicodeEncodeError) as info:
        make(text)
    exc = info.value
    assert (exc.encoding, exc.object, exc.start, exc.end) == ("utf-8", text, len(text) - 1, len(text))
    assert exc.__notes__ == NOTE


# --- argument matching ----------------------------------------------------------------------

NEW_CALLS = {
    "call": lambda *a, **k: Encoder(*a, **k),
    "partial": functools.partial(Encoder),
    "__new__": lambda *a, **k: Encoder.__new__(Encoder, *a, **k),
    "type.__call__": lambda *a, **k: type.__call__(Encoder, *a, **k),
}

TOO_MANY_NEW = "takes from 0 to 1 positional arguments but {} were given"
NEW_CASES = [
    (lambda f: f(1, 2), TOO_MANY_NEW.format(2)),
    (lambda f: f("label", "label", "label"), TOO_MANY_NEW.format(3)),
    (lambda f: f(1, 2, strategy=1), TOO_MANY_NEW.format(2)),
    (lambda f: f("label", None, encoding="label"), TOO_MANY_NEW.format(2)),
    (lambda f: f(strategy="label"), "got an unexpected keyword argument 'strategy'"),
    (lambda f: f("label", strategy="label"), "got an unexpected keyword argument 'strategy'"),
    (lambda f: f(encoding="label", extra=1), "got an unexpected keyword argument 'extra'"),
    (lambda f: f(encoding=1, extra=1), "got an unexpected keyword argument 'extra'"),
    (lambda f: f(extra=1, encoding="Label"), "got an unexpected keyword argument 'extra'"),
    (lambda f: f(b=1, a=2), "got an unexpected keyword argument 'b'"),
    (lambda f: f(Encoding="label"), "got an unexpected keyword argument 'Encoding'"),
    (lambda f: f(**{"weird name": 1}), "got an unexpected keyword argument 'weird name'"),
    (lambda f: f(**{"ключ": 1}), "got an unexpected keyword argument 'ключ'"),
    (lambda f: f(**{Shouty("strategy"): 1}), "got an unexpected keyword argument 'SHOUT'"),
    (lambda f: f("label", encoding="label"), "got multiple values for argument 'encoding'"),
    (lambda f: f(1, encoding=1), "got multiple values for argument 'encoding'"),
    (lambda f: f(None, encoding=None), "got multiple values for argument 'encoding'"),
]


@pytest.mark.parametrize("case, message", NEW_CASES)
@pytest.mark.parametrize("style", NEW_CALLS)
def test_construction_argument_errors(style, case, message):
    exc = raised(TypeError, lambda: case(NEW_CALLS[style]))
    assert exc.args[0] == "Encoder.__new__() " + message
    assert not hasattr(exc, "__notes__")


METHOD_CALLS = {
    "bound": lambda enc, name: getattr(enc, name),
    "unbound": lambda enc, name: lambda *a, **k: getattr(Encoder, name)(enc, *a, **k),
    "partial": lambda enc, name: functools.partial(getattr(enc, name)),
    "partial-unbound": lambda enc, name: functools.partial(getattr(Encoder, name), enc),
}

TOO_MANY = "takes 1 positional arguments but {} were given"
METHOD_CASES = [
    (lambda f: f(), "missing 1 required positional argument: 'obj'"),
    (lambda f: f(X, X), TOO_MANY.format(2)),
    (lambda f: f(X, X, X), TOO_MANY.format(3)),
    (lambda f: f(X, X, obj=X), TOO_MANY.format(2)),
    (lambda f: f(X, X, foo=1), TOO_MANY.format(2)),
    (lambda f: f(X, obj=X), "got multiple values for argument 'obj'"),
    (lambda f: f(X, obj=X, foo=1), "got multiple values for argument 'obj'"),
    (lambda f: f(foo=1), "got an unexpected keyword argument 'foo'"),
    (lambda f: f(X, foo=1), "got an unexpected keyword argument 'foo'"),
    (lambda f: f(obj=X, foo=1), "got an unexpected keyword argument 'foo'"),
    (lambda f: f(foo=1, obj=X), "got an unexpected keyword argument 'foo'"),
    (lambda f: f(X, foo=1, obj=X), "got an unexpected keyword argument 'foo'"),
    (lambda f: f(Obj=X), "got an unexpected keyword argument 'Obj'"),
    (lambda f: f(**{"weird name": 1}), "got an unexpected keyword argument 'weird name'"),
    (lambda f: f(**{"": X}), "got an unexpected keyword argument ''"),
    (lambda f: f(**{"ключ": 1}), "got an unexpected keyword argument 'ключ'"),
    (lambda f: f(**{Shouty("foo"): 1}), "got an unexpected keyword argument 'SHOUT'"),
]


@pytest.mark.parametrize("case, message", METHOD_CASES)
@pytest.mark.parametrize("style", METHOD_CALLS)
@pytest.mark.parametrize("name", ["encode", "decode"])
def test_method_argument_errors(name, style, case, message):
    enc = Encoder()
    exc = raised(TypeError, lambda: case(METHOD_CALLS[style](enc, name)))
    assert exc.args[0] == f"Encoder.{name}() " + message
    assert not hasattr(exc, "__notes__")
    # A refused call takes no hold on the instance.
    assert np.array_equal(enc.encode(X), X)


@pytest.mark.parametrize("style", METHOD_CALLS)
@pytest.mark.parametrize("name", ["encode", "decode"])
def test_obj_by_keyword(name, style):
    expected = getattr(Encoder(), name)(TABLE)
    call = METHOD_CALLS[style](Encoder(), name)
    assert np.array_equal(call(obj=TABLE), expected)
    assert np.array_equal(call(**{Shouty("obj"): TABLE}), expected)


@pytest.mark.parametrize(
    "call",
    [
        pytest.param(lambda: Encoder(**{"\ud800": 1}), id="__new__"),
        pytest.param(lambda: Encoder().encode(**{"\ud800": X}), id="encode"),
        pytest.param(lambda: Encoder().decode(X, **{"\ud800": X}), id="decode"),
    ],
)
def test_keyword_name_without_utf8_form(call):
    exc = raised(TypeError, call)
    head, _, tail = exc.args[0].partition(" got an unexpected keyword argument '")
    assert head in ("Encoder.__new__()", "Encoder.encode()", "Encoder.decode()")
    assert tail.endswith("'") and len(tail) > 1
