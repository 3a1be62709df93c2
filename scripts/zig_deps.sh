#!/usr/bin/env bash
# Cross-builds oneTBB, abseil and GoogleTest as static libraries for a zig
# target (scripts/zig_toolchain.sh) from the Debian source packages of the
# machine's release (fetched with a private apt state, Debian's patches
# applied), into the cache once, and prints the prefix that holds them.
#   scripts/zig_deps.sh arm-linux-musleabihf
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/scripts/cache_lib.sh"
target="${1:?usage: $0 TARGET}"
say() { printf '[zig-deps] %s\n' "$*" >&2; }

zig_bin="$("$ROOT/scripts/zig_toolchain.sh" "$target")"
release="$(. /etc/os-release && echo "${VERSION_CODENAME:-}")"
DIR="$TARNIX_CACHE/zig-deps/$target"
PREFIX="$DIR/prefix"
# Rebuilt when the toolchain, its CMake file or this script change.
want="$release $(cat "$ROOT/cmake/zig.cmake" "${BASH_SOURCE[0]}" "$zig_bin/$target-c++" | sha256sum | cut -c1-16)"
if [ -f "$PREFIX/.tarnix-stamp" ] && [ "$(cat "$PREFIX/.tarnix-stamp")" = "$want" ]; then
    echo "$PREFIX"
    exit 0
fi

start=$SECONDS
rm -rf "$DIR"
mkdir -p "$DIR/src"
say "fetching the $release sources of onetbb, abseil and googletest"
apt_private "$DIR/apt" "$release" update
(cd "$DIR/src" && apt_private "$DIR/apt" "$release" source --download-only onetbb abseil googletest)
for dsc in "$DIR"/src/*.dsc; do
    (cd "$DIR/src" && dpkg-source -q --no-check -x "$dsc" >/dev/null)
done
source_dir() { find "$DIR/src" -maxdepth 1 -mindepth 1 -type d -name "$1-*" | head -n 1; }
# Debian links abseil against libatomic with linker options zig's linker does
# not take (--push-state); zig's compiler-rt has the atomics.
patch -s -R -d "$(source_dir abseil)" -p1 < "$(source_dir abseil)/debian/patches/latomic.diff"

build() {
    local name="$1" source="$2"
    shift 2
    say "building $name for $target (log in $DIR/$name.log)"
    if ! { cmake -S "$source" -B "$DIR/build-$name" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/zig.cmake" \
        -DTARNIX_ZIG_BIN="$zig_bin" -DTARNIX_ZIG_TARGET="$target" -DCMAKE_BUILD_TYPE=Release \
        -DBUILD_SHARED_LIBS=OFF -DCMAKE_INSTALL_PREFIX="$PREFIX" -DCMAKE_POLICY_VERSION_MINIMUM=3.5 "$@" &&
        nice cmake --build "$DIR/build-$name" -j 2 && cmake --install "$DIR/build-$name"; } >"$DIR/$name.log" 2>&1; then
        tail -n 30 "$DIR/$name.log" >&2
        say "building $name failed"
        exit 1
    fi
}
build onetbb "$(source_dir onetbb)" -DTBB_TEST=OFF -DTBB_STRICT=OFF -DTBBMALLOC_BUILD=OFF -DTBB_EXAMPLES=OFF
# musl declares off64_t only when asked.
build abseil "$(source_dir abseil)" -DCMAKE_CXX_FLAGS=-D_LARGEFILE64_SOURCE -DBUILD_TESTING=OFF \
    -DABSL_PROPAGATE_CXX_STD=ON -DCMAKE_CXX_STANDARD=20
build googletest "$(source_dir googletest)" -DBUILD_GMOCK=OFF
rm -rf "$DIR/apt" "$DIR/src" "$DIR"/build-*
printf '%s' "$want" > "$PREFIX/.tarnix-stamp"
say "built in $((SECONDS - start)) s"
echo "$PREFIX"
