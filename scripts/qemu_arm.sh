#!/usr/bin/env bash
# Fetches qemu-arm from Debian trixie's qemu-user package (a static-pie
# executable; the machine's own archive, asked for trixie) into the cache once,
# without installing anything, and prints its path. bookworm's qemu-arm (7.2)
# leaves musl's allocator spinning on a failing mremap; trixie's runs it.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/scripts/cache_lib.sh"
DIR="$TARNIX_CACHE/qemu-trixie"
say() { printf '[qemu-arm] %s\n' "$*" >&2; }

if [ -x "$DIR/root/usr/bin/qemu-arm" ] && "$DIR/root/usr/bin/qemu-arm" --version >/dev/null 2>&1; then
    echo "$DIR/root/usr/bin/qemu-arm"
    exit 0
fi
say "fetching qemu-user from Debian trixie (once)"
rm -rf "$DIR"
mkdir -p "$DIR/deb"
apt_private "$DIR/apt" trixie update
(cd "$DIR/deb" && apt_private "$DIR/apt" trixie download qemu-user)
dpkg-deb -x "$(ls "$DIR"/deb/qemu-user_*.deb | head -n 1)" "$DIR/root"
# Only the 32-bit ARM emulator and its binfmt_misc name are kept.
find "$DIR/root" \( -type f -o -type l \) ! -path '*/usr/bin/qemu-arm' ! -path '*/qemu-binfmt/arm-binfmt-P' -delete
rm -rf "$DIR/apt" "$DIR/deb"
"$DIR/root/usr/bin/qemu-arm" --version | head -n 1 >&2
echo "$DIR/root/usr/bin/qemu-arm"
