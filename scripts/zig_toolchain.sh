#!/usr/bin/env bash
# Installs the C/C++ toolchain of the PyPI package ziglang (clang, libc++ and
# musl for many targets) into the cache once, writes a wrapper script per tool
# for one target, and prints the directory that holds them:
#   scripts/zig_toolchain.sh arm-linux-musleabihf
#     -> .../bin/arm-linux-musleabihf-{cc,c++,ar,ranlib}
# cmake/zig.cmake makes a CMake toolchain of that directory.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/scripts/cache_lib.sh"
ZIG_VERSION=0.17.1
target="${1:?usage: $0 TARGET (say arm-linux-musleabihf)}"
DIR="$TARNIX_CACHE/zig-$ZIG_VERSION"
say() { printf '[zig] %s\n' "$*" >&2; }

if ! "$DIR/venv/bin/python" -m ziglang version 2>/dev/null | grep -qx "$ZIG_VERSION"; then
    say "installing ziglang $ZIG_VERSION into $DIR (once)"
    rm -rf "$DIR"
    python3 -m venv "$DIR/venv"
    "$DIR/venv/bin/python" -m pip install -q --disable-pip-version-check "ziglang==$ZIG_VERSION" 2>/dev/null ||
        "$DIR/venv/bin/python" -m pip install --disable-pip-version-check "ziglang==$ZIG_VERSION"
fi
zig="$("$DIR/venv/bin/python" -c 'import os, ziglang; print(os.path.join(os.path.dirname(ziglang.__file__), "zig"))')"

# zig builds libc++, musl and compiler-rt for a target on first use and keeps
# them in its global cache, kept beside the toolchain.
mkdir -p "$DIR/bin" "$DIR/cache"
write_wrapper() {
    local name="$1" tmp
    shift
    tmp="$(mktemp "$DIR/bin/.wrapper.XXXXXX")"
    printf '#!/bin/sh\nZIG_GLOBAL_CACHE_DIR=%q ZIG_LOCAL_CACHE_DIR=%q exec %q %s "$@"\n' \
        "$DIR/cache" "$DIR/cache" "$zig" "$*" > "$tmp"
    chmod +x "$tmp"
    mv -f "$tmp" "$DIR/bin/$target-$name"
}
write_wrapper cc cc -target "$target"
write_wrapper c++ c++ -target "$target"
write_wrapper ar ar
write_wrapper ranlib ranlib
echo "$DIR/bin"
