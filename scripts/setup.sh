#!/usr/bin/env bash
# Prepares everything the demo and the tests need, and does nothing that is
# already done: Debian packages, a .venv on CPython 3.13 with the Python
# requirements, and the tarnix module built into it.
# Sourced by the other scripts; sets ROOT, PY and PATH, and has every CMake
# build compile through ccache, whose cache is kept outside the clone.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
VENV="$ROOT/.venv"
PY="$VENV/bin/python"
STAMPS="$VENV/.tarnix-stamps"

say() { printf '[setup] %s\n' "$*" >&2; }
source "$ROOT/scripts/cache_lib.sh"

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; elif command -v sudo >/dev/null; then sudo "$@"; else
        say "need root for: $*"; return 1
    fi
}

install_system_packages() {
    local wanted=(g++ libtbb-dev libabsl-dev libgtest-dev ccache) missing=()
    for pkg in "${wanted[@]}"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    say "installing Debian packages: ${missing[*]}"
    as_root apt-get update -qq
    DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq "${missing[@]}" >/dev/null
}

stamp_matches() { [ -f "$STAMPS/$1" ] && [ "$(cat "$STAMPS/$1")" = "$2" ]; }
write_stamp() { mkdir -p "$STAMPS"; printf '%s' "$2" > "$STAMPS/$1"; }

make_venv() {
    if [ -x "$PY" ] && "$PY" -c 'import sys; assert sys.version_info[:2] == (3, 13)' 2>/dev/null; then
        return 0
    fi
    local python
    python="$(find_python 3.13)"
    say "creating .venv with $python"
    rm -rf "$VENV"
    "$python" -m venv "$VENV"
}

install_requirements() {
    local digest
    digest="$(sha256sum "$ROOT/requirements-dev.txt" | cut -d' ' -f1)"
    stamp_matches requirements "$digest" && return 0
    say "installing Python requirements"
    "$PY" -m pip install -q --disable-pip-version-check --upgrade pip 2>/dev/null
    "$PY" -m pip install -q --disable-pip-version-check -r "$ROOT/requirements-dev.txt" 2>/dev/null
    write_stamp requirements "$digest"
}

sources_digest() {
    (cd "$ROOT" && find src CMakeLists.txt pyproject.toml -type f -print0 | sort -z |
        xargs -0 sha256sum | sha256sum | cut -d' ' -f1)
}

install_module() {
    local digest
    digest="$(sources_digest)"
    if stamp_matches module "$digest" && "$PY" -c 'import tarnix' 2>/dev/null; then return 0; fi
    say "building and installing tarnix"
    (cd "$ROOT" && "$PY" -m pip install -q --disable-pip-version-check --no-build-isolation . 2>/dev/null) ||
        (cd "$ROOT" && "$PY" -m pip install --disable-pip-version-check --no-build-isolation .)
    write_stamp module "$digest"
}

# Every build of a CI run compiles the Python-free core again, and the next run
# most of the sources again. Paths below the clone are hashed relative to it,
# so that a clone elsewhere hits the same entries; the compiler is known by its
# contents, since the zig wrappers are rewritten on every run.
use_compiler_cache() {
    command -v ccache >/dev/null || return 0
    export CCACHE_DIR="${CCACHE_DIR:-$TARNIX_CACHE/ccache}" CCACHE_BASEDIR="$ROOT" CCACHE_NOHASHDIR=true \
        CCACHE_COMPILERCHECK=content CCACHE_MAXSIZE="${CCACHE_MAXSIZE:-4G}"
    export CMAKE_C_COMPILER_LAUNCHER="${CMAKE_C_COMPILER_LAUNCHER:-ccache}"
    export CMAKE_CXX_COMPILER_LAUNCHER="${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}"
}

install_system_packages
use_compiler_cache
make_venv
install_requirements
export PATH="$VENV/bin:$PATH"
install_module
