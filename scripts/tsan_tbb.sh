#!/usr/bin/env bash
# Builds libtbb with ThreadSanitizer from Debian's source of the installed
# oneTBB release (once per release; kept in the cache outside the clone,
# tsan-tbb/<version>, see scripts/cache_lib.sh) and prints the directory that
# holds the library.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/scripts/cache_lib.sh"
# The native package alone: with a foreign architecture's libtbb-dev also
# installed, dpkg answers once per architecture.
version="$(dpkg-query -W -f='${source:Version}' "libtbb-dev:$(dpkg --print-architecture)")"
WORK="$TARNIX_CACHE/tsan-tbb/$version"
say() { printf '[tsan-tbb] %s\n' "$*" >&2; }

lib_dir() { dirname "$(find "$WORK/build" -name 'libtbb.so.12' -print -quit 2>/dev/null)"; }
if [ -n "$(find "$WORK/build" -name 'libtbb.so.12' -print -quit 2>/dev/null)" ]; then
    lib_dir
    exit 0
fi

mkdir -p "$WORK/apt/lists/partial" "$WORK/apt/archives/partial" "$WORK/apt/sources.list.d" "$WORK/src"
# The machine's own package sources, each also asked for source packages.
rm -f "$WORK/apt/sources.list.d/"*
if [ -f /etc/apt/sources.list ]; then
    sed -E 's/^([[:space:]]*)deb([[:space:]])/\1deb-src\2/' /etc/apt/sources.list > "$WORK/apt/sources.list"
else
    : > "$WORK/apt/sources.list"
fi
for part in /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [ -f "$part" ] || continue
    case "$part" in
    *.list) sed -E 's/^([[:space:]]*)deb([[:space:]])/\1deb-src\2/' "$part" ;;
    *) sed -E 's/^Types:[[:space:]]*deb[[:space:]]*$/Types: deb-src/' "$part" ;;
    esac > "$WORK/apt/sources.list.d/$(basename "$part")"
done
apt_private=(-o "Dir::Etc::SourceList=$WORK/apt/sources.list" -o "Dir::Etc::SourceParts=$WORK/apt/sources.list.d"
    -o "Dir::State::Lists=$WORK/apt/lists" -o "Dir::Cache::archives=$WORK/apt/archives" -qq)
say "fetching the source of onetbb $version"
apt-get "${apt_private[@]}" update >&2
(cd "$WORK/src" && apt-get "${apt_private[@]}" source --download-only "onetbb=$version" >&2)
tar -xf "$(ls "$WORK"/src/onetbb_*.orig.tar.* | head -n 1)" -C "$WORK/src"
source_dir="$(find "$WORK/src" -maxdepth 1 -mindepth 1 -type d -name 'oneTBB*' | head -n 1)"

say "building libtbb with -fsanitize=thread"
cmake -S "$source_dir" -B "$WORK/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_POLICY_VERSION_MINIMUM=3.5 -DTBB_SANITIZE=thread -DTBB_TEST=OFF -DTBB_STRICT=OFF -DTBBMALLOC_BUILD=OFF >&2
cmake --build "$WORK/build" --target tbb -j "$(nproc)" >&2
lib_dir
