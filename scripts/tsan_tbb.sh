#!/usr/bin/env bash
# Builds libtbb with ThreadSanitizer from Debian's source of the installed
# oneTBB release (once; kept under build/tsan-tbb) and prints the directory
# that holds the library.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
WORK="$ROOT/build/tsan-tbb"
say() { printf '[tsan-tbb] %s\n' "$*" >&2; }

lib_dir() { dirname "$(find "$WORK/build" -name 'libtbb.so.12' -print -quit 2>/dev/null)"; }
if [ -n "$(find "$WORK/build" -name 'libtbb.so.12' -print -quit 2>/dev/null)" ]; then
    lib_dir
    exit 0
fi

mkdir -p "$WORK/apt/lists/partial" "$WORK/apt/archives/partial" "$WORK/src"
codename="$(. /etc/os-release && echo "$VERSION_CODENAME")"
cat > "$WORK/apt/sources.list" <<LIST
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian $codename main
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian-security $codename-security main
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian $codename-updates main
LIST
apt_private=(-o "Dir::Etc::SourceList=$WORK/apt/sources.list" -o "Dir::Etc::SourceParts=/dev/null"
    -o "Dir::State::Lists=$WORK/apt/lists" -o "Dir::Cache::archives=$WORK/apt/archives" -qq)
version="$(dpkg-query -W -f='${source:Version}' libtbb-dev)"
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
