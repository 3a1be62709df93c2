#!/usr/bin/env bash
# The Python suite on 32-bit ARM (hard-float) Linux, under qemu.
# A Debian trixie armhf root (armhf-python/root in the cache outside the
# clone, see scripts/cache_lib.sh), made once with mmdebstrap from the
# machine's own Debian archive, supplies python3.13, numpy, pandas, pytest,
# hypothesis, mypy, oneTBB and abseil, all Debian's. The module is
# cross-built against the root (cmake/armhf-root.cmake) by the machine's
# arm-linux-gnueabihf compilers, installed into the root's site-packages as a
# wheel lays it out, and pytest runs tests/python there. The root is entered
# with chroot in a private mount namespace; the kernel hands its ARM
# executables to qemu-arm (binfmt_misc).
# The root takes a few minutes (once), the build one or two, the suite,
# emulated, about 4.
# Arguments go to pytest. Without any, the tests of what the module does as
# seen from Python run (encode, decode, conversion, arguments, holds, hostile
# cells, panics, threads, the module object): what 32-bit words, alignment and
# the armhf ABI can change. Left to x86-64 are the tests about other packages
# and about scale: the differential and fuzz tests against NumPy and pandas,
# the leak tests, tarnix_learn and the typing stub. TARNIX_ARMHF_ALL=1 runs
# them all.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
source "$ROOT/scripts/armhf_lib.sh"

WORK="$TARNIX_CACHE/armhf-python"
SEMANTICS=(test_arguments test_conversion test_decode test_encode test_holds test_hostile test_module
    test_panic test_threads)
RFS="$WORK/root"
SUITE=trixie
PACKAGES=(python3 python3-dev python3-numpy python3-pandas python3-pytest python3-hypothesis python3-mypy
    libtbb-dev libabsl-dev)

make_root() {
    local want="$SUITE ${PACKAGES[*]}" archive
    if [ -f "$WORK/root.stamp" ] && [ "$(cat "$WORK/root.stamp")" = "$want" ]; then return 0; fi
    archive="$(debian_archive)"
    if [ -z "$archive" ]; then
        armhf_say "no Debian archive found in the machine's apt sources"
        return 1
    fi
    armhf_say "making the Debian $SUITE armhf root (once; several minutes under emulation)"
    # An mmdebstrap that was interrupted can leave the machine's /dev, /proc
    # and /sys mounted in the root: unmount them first, and never let rm
    # cross into another file system.
    local mount
    awk -v root="$RFS/" 'index($2, root) == 1 { print $2 }' /proc/mounts | sort -r | while read -r mount; do
        as_root umount -l "$mount"
    done
    as_root rm -rf --one-file-system "$RFS" "$WORK/root.stamp"
    mkdir -p "$WORK"
    local packages="${PACKAGES[*]}"
    as_root mmdebstrap --quiet --architectures=armhf --variant=apt --mode=root --format=directory \
        --aptopt='Acquire::Languages "none"' \
        --dpkgopt='path-exclude=/usr/share/man/*' --dpkgopt='path-exclude=/usr/share/doc/*' \
        --dpkgopt='path-exclude=/usr/share/locale/*' \
        --include="${packages// /,}" "$SUITE" "$RFS" \
        "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $archive $SUITE main"
    printf '%s' "$want" > "$WORK/root.stamp"
}

# Runs a command inside the root with a clean environment; /proc, /dev and
# /sys are mounted in a mount namespace of its own, gone when it ends.
in_root() {
    as_root unshare --mount --propagation private -- sh -c '
        root="$1"; shift
        mount -t proc proc "$root/proc" && mount --rbind /dev "$root/dev" &&
            mount --rbind /sys "$root/sys" && exec chroot "$root" "$@"' sh "$RFS" \
        env -i HOME=/root PATH=/usr/local/bin:/usr/bin:/bin LANG=C.UTF-8 CI="${CI:-}" "$@"
}

start=$SECONDS
armhf_install mmdebstrap arch-test qemu-user-static debian-archive-keyring g++-arm-linux-gnueabihf
if ! armhf_register_binfmt; then
    armhf_say "cannot register qemu-arm with binfmt_misc: the armhf root cannot run here"
    exit 1
fi
make_root
echo "[armhf-python] root ready after $((SECONDS - start)) s"

# The tests as they are in the work tree.
rm -rf "$RFS/tarnix"
mkdir -p "$RFS/tarnix"
(cd "$ROOT" && cp -a pyproject.toml tests "$RFS/tarnix/")
# The typing test runs mypy --strict, which wants pandas' stubs; they are
# plain text, so the ones of the project's own environment serve.
site="$(in_root python3 -c 'import site; print(site.getsitepackages()[0])')"
stubs="$("$PY" -c 'import sysconfig; print(sysconfig.get_path("purelib"))')/pandas-stubs"
if [ -d "$stubs" ]; then
    rm -rf "$RFS$site/pandas-stubs"
    mkdir -p "$RFS$site"
    cp -r "$stubs" "$RFS$site/pandas-stubs"
fi

echo "== armhf: cross-building the module against the root =="
read -r soabi numpy_include < <(in_root python3 -c '
import sysconfig, numpy
print(sysconfig.get_config_var("SOABI"), numpy.get_include())')
python_include="$(in_root python3 -c 'import sysconfig; print(sysconfig.get_path("include"))')"
BUILD="$ROOT/build/armhf-module"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/armhf-root.cmake" \
    -DTARNIX_ARMHF_ROOT="$RFS" -DCMAKE_BUILD_TYPE=Release -DTARNIX_NATIVE_TESTS=OFF \
    -DPython_SOABI="$soabi" -DPython_INCLUDE_DIR="$RFS$python_include" \
    -DNUMPY_INCLUDE_DIR="$RFS$numpy_include" >/dev/null
cmake --build "$BUILD" -j "$(nproc)"
cmake --install "$BUILD" --prefix "$RFS$site" >/dev/null
echo "[armhf-python] module built and installed after $((SECONDS - start)) s"

echo "== armhf: Python tests (pytest under qemu) =="
status=0
tests=("$@")
if [ ${#tests[@]} -eq 0 ] && [ "${TARNIX_ARMHF_ALL:-}" != 1 ]; then
    for name in "${SEMANTICS[@]}"; do tests+=("tests/python/$name.py"); done
fi
# A test module that cannot be imported here (its packages are not in Debian's
# armhf archive) is reported as an error, and the other modules still run.
in_root sh -c 'cd /tarnix && exec python3 -m pytest -q -p no:cacheprovider --continue-on-collection-errors "$@"' \
    sh "${tests[@]}" || status=$?
echo "[armhf-python] finished after $((SECONDS - start)) s"
exit "$status"
