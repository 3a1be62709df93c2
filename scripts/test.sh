#!/usr/bin/env bash
# Every test: the native GoogleTest suite through CTest, then the Python suite.
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
exit "$status"
