#!/usr/bin/env bash
# Runs the benchmark: builds and installs tarnix into .venv (scripts/setup.sh),
# installs the peers of bench/requirements.txt when they are missing, builds the
# native bench of the column stage (build/bench), then runs bench/bench.py with
# the given arguments (--quick, --cases 1,2, --repeats N, --max-rows N,
# --no-memory, --out DIR). Case 7 (10^8 rows, about 20 GB of memory at its
# peak) runs only when named: --cases 7.
# Results go to bench/results/.
#   bench/run.sh --threads [--quick]   instead: the free-threaded figures of
#   bench/threads.py, on the free-threaded CPython 3.14 (its venv from
#   scripts/pyvenv.sh, the module built into it)
set -euo pipefail
BENCH="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
if [ "${1:-}" = --threads ]; then
    shift
    "$BENCH/../scripts/python_suite.sh" 3.14t --import-only >&2
    exec "$("$BENCH/../scripts/pyvenv.sh" 3.14t)" "$BENCH/threads.py" "$@"
fi
# shellcheck source=../scripts/setup.sh
source "$BENCH/../scripts/setup.sh"

digest="$(sha256sum "$BENCH/requirements.txt" | cut -d' ' -f1)"
if ! stamp_matches bench-requirements "$digest" ||
    ! "$PY" -c 'import sklearn, category_encoders, polars, matplotlib' 2>/dev/null; then
    printf '[bench] installing the peers of bench/requirements.txt\n' >&2
    "$PY" -m pip install -q --disable-pip-version-check -r "$BENCH/requirements.txt"
    write_stamp bench-requirements "$digest"
fi

# The native bench of the column stage (case 4) in build/bench: configured
# when that build is missing or set up otherwise, then brought up to date.
NATIVE="$ROOT/build/bench"
native_log="$(mktemp)"
trap 'rm -f "$native_log"' EXIT
if ! grep -qsx 'TARNIX_BENCH:BOOL=ON' "$NATIVE/CMakeCache.txt" ||
    ! grep -qsx 'CMAKE_BUILD_TYPE:STRING=Release' "$NATIVE/CMakeCache.txt"; then
    printf '[bench] configuring the native column-stage bench in build/bench\n' >&2
    cmake -S "$ROOT" -B "$NATIVE" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNIX_MODULE=OFF \
        -DTARNIX_NATIVE_TESTS=OFF -DTARNIX_BENCH=ON >"$native_log" 2>&1 || {
        cat "$native_log" >&2
        exit 1
    }
fi
cmake --build "$NATIVE" --target column_stage_bench -j2 >"$native_log" 2>&1 || {
    cat "$native_log" >&2
    exit 1
}
rm -f "$native_log"

exec "$PY" "$BENCH/bench.py" "$@"
