#!/usr/bin/env bash
# Sanitizer runs for developers.
#   scripts/sanitize.sh address   ASan+UBSan: native tests, then the Python suite
#                                 against an ASan build of the module
#   scripts/sanitize.sh thread    TSan: native tests
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
kind="${1:-address}"
shift || true
BUILD="$ROOT/build/sanitize-$kind"

case "$kind" in
address)
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DTARNIX_SANITIZE=address -DPython_EXECUTABLE="$PY" >/dev/null
    cmake --build "$BUILD" -j "$(nproc)"
    export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
    ctest --test-dir "$BUILD" --output-on-failure --no-tests=error -j "$(nproc)"
    # The interpreter is not built with ASan: preload the runtime, and let
    # every Python allocation go through malloc so ASan sees it.
    LD_PRELOAD="$(g++ -print-file-name=libasan.so):$(g++ -print-file-name=libubsan.so)" \
        PYTHONMALLOC=malloc PYTHONPATH="$BUILD" \
        "$ROOT/scripts/pytest_run.sh" "$PY" "$ROOT/tests/python" "$@"
    ;;
thread)
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DTARNIX_SANITIZE=thread -DTARNIX_MODULE=OFF >/dev/null
    cmake --build "$BUILD" -j "$(nproc)"
    # TSan cannot see the synchronisation inside a libtbb built without it:
    # run against a TSan build of the same oneTBB release.
    tsan_tbb="$("$ROOT/scripts/tsan_tbb.sh")"
    export LD_LIBRARY_PATH="$tsan_tbb${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
    export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"
    ctest --test-dir "$BUILD" --output-on-failure --no-tests=error -j "$(nproc)"
    ;;
*)
    echo "usage: $0 address|thread [pytest args]" >&2
    exit 2
    ;;
esac
