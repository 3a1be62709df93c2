"""The installed typing stub: mypy --strict takes what the module takes and refuses what it refuses."""

import pathlib
import re
import subprocess
import sys

import pytest

pytest.importorskip("mypy")
# Without pandas' stubs mypy takes pandas for untyped.
if not any((pathlib.Path(path) / "pandas-stubs").is_dir() for path in sys.path):
    pytest.skip("needs pandas-stubs", allow_module_level=True)

HEADER = """\
from typing import Any, assert_type
import numpy as np
import pandas as pd
import tarnix
"""

CORRECT = """\
enc = assert_type(tarnix.Encoder(), tarnix.Encoder)
enc = tarnix.Encoder(None)
enc = tarnix.Encoder(encoding="label")
table = np.array([["oslo", 1.0], ["bergen", 2.0]], dtype=object)
codes = assert_type(enc.encode(table), np.ndarray[Any, np.dtype[np.float64]])
labels = assert_type(enc.decode(obj=codes), np.ndarray[Any, np.dtype[np.object_]])
frame = pd.DataFrame({"city": ["oslo", "bergen"], "n": [1, 2]})
coded = assert_type(enc.encode(obj=frame), pd.DataFrame)
back = assert_type(enc.decode(coded), pd.DataFrame)
assert codes.dtype == np.float64 and labels.dtype == object
assert back["city"].tolist() == ["oslo", "bergen"]
"""

# name -> (code after HEADER, mypy's error codes, what running it raises)
SNIPPETS = {
    "correct-use": (CORRECT, [], None),
    "no-argument": ("tarnix.Encoder().encode()", ["call-overload"], TypeError),
    "not-a-table": ("tarnix.Encoder().encode([['a']])", ["call-overload"], TypeError),
    "unknown-keyword": ("tarnix.Encoder().decode(table=np.zeros((1, 1)))", ["call-overload"],
                        TypeError),
    "encoding-not-str": ("tarnix.Encoder(encoding=1)", ["arg-type"], TypeError),
    "subclass": ("class Mine(tarnix.Encoder):\n    pass", ["misc"], TypeError),
}


@pytest.fixture(scope="module")
def mypy_errors(tmp_path_factory):
    """Error codes per snippet, from one mypy run over all of them (against the installed stub)."""
    work = tmp_path_factory.mktemp("stub")
    for name, (code, _, _) in SNIPPETS.items():
        (work / f"{name.replace('-', '_')}.py").write_text(HEADER + code + "\n")
    run = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--show-error-codes", "--no-error-summary",
         "--cache-dir", str(work / "cache"), *sorted(p.name for p in work.glob("*.py"))],
        cwd=work, capture_output=True, text=True, timeout=300)
    assert run.returncode in (0, 1), run.stdout + run.stderr
    errors = {}
    for line in run.stdout.splitlines():
        found = re.match(r"(\w+)\.py:\d+: error: .*\[([\w-]+)\]$", line)
        if found:
            errors.setdefault(found[1].replace("_", "-"), []).append(found[2])
    return errors, run.stdout


@pytest.mark.parametrize("name", SNIPPETS)
def test_stub_accepts_what_the_module_accepts(mypy_errors, capsys, name):
    code, expected, raised = SNIPPETS[name]
    errors, report = mypy_errors
    assert errors.get(name, []) == expected, report
    program = compile(HEADER + code, f"<{name}>", "exec")
    if raised is None:
        exec(program, {})
    else:
        with pytest.raises(raised):
            exec(program, {})
    capsys.readouterr()  # a refused input's class name
