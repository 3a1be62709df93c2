#!/usr/bin/env bash
# Builds the free-threaded CPython 3.14 (--disable-gil) from the source release
# in ../shared/toolchains (its SHA256SUMS checked first) into a cache outside
# the clone, once, and prints the interpreter's path. A build already in the
# cache is reused when it was made from the same tarball with the same line.
#   TARNIX_CACHE   cache root (default ${XDG_CACHE_HOME:-~/.cache}/tarnix)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
TOOLCHAINS="${TARNIX_TOOLCHAINS:-$ROOT/../shared/toolchains}"
CACHE="${TARNIX_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tarnix}"
TARBALL=cpython-3.14.7.tar.xz
PREFIX="$CACHE/py314t"
CONFIGURE=(--disable-gil --with-ensurepip=install --disable-test-modules)
say() { printf '[py314t] %s\n' "$*" >&2; }

if [ ! -f "$TOOLCHAINS/$TARBALL" ]; then
    say "no $TARBALL in $TOOLCHAINS"
    exit 1
fi
want="$(cd "$TOOLCHAINS" && grep " $TARBALL\$" SHA256SUMS) ${CONFIGURE[*]}"
if [ -x "$PREFIX/bin/python3.14t" ] && [ "$(cat "$PREFIX/.tarnix-stamp" 2>/dev/null)" = "$want" ]; then
    echo "$PREFIX/bin/python3.14t"
    exit 0
fi

(cd "$TOOLCHAINS" && grep " $TARBALL\$" SHA256SUMS | sha256sum -c --quiet -) || {
    say "$TARBALL does not match SHA256SUMS"
    exit 1
}
missing=()
for pkg in libssl-dev zlib1g-dev libffi-dev libbz2-dev liblzma-dev libsqlite3-dev uuid-dev libreadline-dev \
    libncurses-dev; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
done
if [ ${#missing[@]} -gt 0 ]; then
    say "installing Debian packages: ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

start=$SECONDS
work="$(mktemp -d "${CACHE%/}/py314t-build.XXXXXX" 2>/dev/null || { mkdir -p "$CACHE" && mktemp -d "$CACHE/py314t-build.XXXXXX"; })"
trap 'rm -rf "$work"' EXIT
say "building the free-threaded CPython 3.14.7 into $PREFIX (once; a few minutes, log in $work/build.log)"
tar -xf "$TOOLCHAINS/$TARBALL" -C "$work"
rm -rf "$PREFIX"
(
    cd "$work"/cpython-3.14.7
    ./configure --prefix="$PREFIX" "${CONFIGURE[@]}" >"$work/build.log" 2>&1
    nice make -j2 >>"$work/build.log" 2>&1
    make install >>"$work/build.log" 2>&1
) || {
    tail -n 40 "$work/build.log" >&2
    say "build failed"
    exit 1
}
"$PREFIX/bin/python3.14t" -c 'import sys, sysconfig; assert sysconfig.get_config_var("Py_GIL_DISABLED"), "not free-threaded"; assert not sys._is_gil_enabled()'
printf '%s' "$want" > "$PREFIX/.tarnix-stamp"
say "built in $((SECONDS - start)) s"
echo "$PREFIX/bin/python3.14t"
