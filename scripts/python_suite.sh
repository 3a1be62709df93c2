#!/usr/bin/env bash
# The Python suite on another CPython: builds the module into the venv of
# scripts/pyvenv.sh VERSION (build directory build/<wheel tag>, as for .venv)
# and runs pytest there. Further arguments go to pytest.
#   scripts/python_suite.sh 3.14t [-k expr]
#   scripts/python_suite.sh 3.12 --import-only   build, then only import and round-trip
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
version="${1:?usage: $0 VERSION [--import-only | pytest args]}"
shift
say() { printf '[python %s] %s\n' "$version" "$*" >&2; }

start=$SECONDS
py="$("$ROOT/scripts/pyvenv.sh" "$version")"
say "building and installing tarnix"
(cd "$ROOT" && "$py" -m pip install -q --disable-pip-version-check --no-build-isolation --no-deps . 2>/dev/null) ||
    (cd "$ROOT" && "$py" -m pip install --disable-pip-version-check --no-build-isolation --no-deps .)
say "built after $((SECONDS - start)) s: $("$py" -c 'import sys; print(sys.version.split()[0], "free-threaded" if not getattr(sys, "_is_gil_enabled", lambda: True)() else "")')"

cd "$ROOT"
if [ "${1:-}" = --import-only ]; then
    "$py" -c '
import numpy as np, tarnix
enc = tarnix.Encoder()
codes = enc.encode(np.array([["oslo", 1.5], ["bergen", 2.5]], dtype=object))
assert enc.decode(codes)[:, 0].tolist() == ["oslo", "bergen"], codes
print("import ok:", tarnix.__file__)'
    exit 0
fi
status=0
"$ROOT/scripts/pytest_run.sh" "$py" "$@" || status=$?
say "finished after $((SECONDS - start)) s"
exit "$status"
