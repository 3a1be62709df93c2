#!/usr/bin/env bash
# Makes (once) a venv on CPython VERSION (3.11, 3.12, 3.13, 3.14t; see
# find_python in scripts/cache_lib.sh) with the development requirements, in
# the cache outside the clone, and prints its python. A requirement that has
# no build for that interpreter (the whole file is tried first, then each
# line) is left out and named; the tests that need it skip.
#   scripts/pyvenv.sh 3.14t
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/scripts/cache_lib.sh"
version="${1:?usage: $0 VERSION (3.11, 3.12, 3.13 or 3.14t)}"
VENV="$TARNIX_CACHE/venvs/$version"
say() { printf '[pyvenv %s] %s\n' "$version" "$*" >&2; }

python="$(find_python "$version")"
want="$python $(sha256sum "$ROOT/requirements-dev.txt" | cut -d' ' -f1)"
if [ -x "$VENV/bin/python" ] && [ "$(cat "$VENV/.tarnix-stamp" 2>/dev/null)" = "$want" ]; then
    echo "$VENV/bin/python"
    exit 0
fi

say "making a venv with the development requirements (once)"
rm -rf "$VENV"
"$python" -m venv "$VENV"
pip=("$VENV/bin/python" -m pip install -q --disable-pip-version-check)
"${pip[@]}" --upgrade pip 2>/dev/null
if ! "${pip[@]}" --only-binary=:all: -r "$ROOT/requirements-dev.txt" 2>/dev/null; then
    left_out=()
    while read -r requirement; do
        requirement="${requirement%%#*}"
        requirement="${requirement// /}"
        [ -n "$requirement" ] || continue
        "${pip[@]}" --only-binary=:all: "$requirement" 2>/dev/null || left_out+=("$requirement")
    done < "$ROOT/requirements-dev.txt"
    say "no build for this interpreter, left out: ${left_out[*]}"
fi
"$VENV/bin/python" -c 'import numpy, pandas, pytest, hypothesis, scikit_build_core' || {
    say "the venv lacks what the build and the tests need"
    exit 1
}
printf '%s' "$want" > "$VENV/.tarnix-stamp"
echo "$VENV/bin/python"
