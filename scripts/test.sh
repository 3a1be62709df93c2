#!/usr/bin/env bash
# Every test: the native GoogleTest suite through CTest, then the Python suite.
# In CI (CI=true), or with TARNIX_SANITIZERS=1, also the sanitizer runs:
# both suites under ASan+UBSan, the native suite under TSan, and the native
# suite cross-built for 32-bit ARM (armhf) run under qemu, plain and with
# ASan+UBSan.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

BUILD="$ROOT/build/native"
echo "== native tests (GoogleTest) =="
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNIX_MODULE=OFF >/dev/null
cmake --build "$BUILD" -j "$(nproc)"
ctest --test-dir "$BUILD" --output-on-failure --no-tests=error -j "$(nproc)"

echo "== Python tests (pytest) =="
cd "$ROOT"
status=0
"$PY" -m pytest -q -p no:cacheprovider "$@" || status=$?
if [ "$status" -eq 5 ]; then
    echo "pytest collected no tests" >&2
    exit 1
fi
[ "$status" -eq 0 ] || exit "$status"

if [ "${CI:-}" = "true" ] || [ "${TARNIX_SANITIZERS:-}" = "1" ]; then
    echo "== sanitizers: ASan+UBSan (native and Python suites) =="
    "$ROOT/scripts/sanitize.sh" address
    echo "== sanitizers: TSan (native suite) =="
    "$ROOT/scripts/sanitize.sh" thread
    # The native suite on 32-bit ARM under qemu, plain and with ASan+UBSan.
    "$ROOT/scripts/armhf.sh"
fi

if [ "${CI:-}" = "true" ]; then
    echo "== the Python suite on 32-bit ARM (a Debian armhf root, under qemu) =="
    "$ROOT/scripts/armhf_python.sh"
fi

if [ "${CI:-}" = "true" ]; then
    echo "== wheel: build, install into a fresh venv, smoke test =="
    "$ROOT/scripts/wheel.sh"
    "$ROOT/scripts/wheel_check.sh"
fi
