#!/usr/bin/env bash
# The native GoogleTest suite on 32-bit ARM (hard-float) Linux with musl:
# cross-built statically with zig's clang, libc++ and musl
# (scripts/zig_toolchain.sh, cmake/zig.cmake) against oneTBB, abseil and
# GoogleTest built the same way (scripts/zig_deps.sh), run under trixie's
# qemu-arm (scripts/qemu_arm.sh); plain (build/musl-armhf) and with UBSan
# (build/musl-armhf-ubsan; zig has no ASan runtime for this target).
#   scripts/musl_armhf.sh             both builds
#   scripts/musl_armhf.sh plain       the plain build only
#   scripts/musl_armhf.sh undefined   the UBSan build only
# The toolchain, the libraries and qemu are kept in the cache outside the
# clone (scripts/cache_lib.sh). CTest runs the suite as one test: each process
# under qemu first spends seconds in musl's probe of the main thread's stack.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/scripts/cache_lib.sh"
source "$ROOT/scripts/armhf_lib.sh"
TARGET=arm-linux-musleabihf
which_builds="${1:-all}"
case "$which_builds" in all | plain | undefined) ;; *)
    echo "usage: $0 [all|plain|undefined]" >&2
    exit 2
    ;;
esac
say() { printf '[musl-armhf] %s\n' "$*" >&2; }

start=$SECONDS
zig_bin="$("$ROOT/scripts/zig_toolchain.sh" "$TARGET")"
qemu="$("$ROOT/scripts/qemu_arm.sh")"
prefix="$("$ROOT/scripts/zig_deps.sh" "$TARGET")"
say "toolchain, qemu and libraries ready after $((SECONDS - start)) s"
# The death tests re-execute the test binary, which takes qemu registered with
# binfmt_misc.
if ! armhf_register_binfmt; then
    say "SKIPPED *DeathTest.*: cannot register qemu-arm with binfmt_misc, and death tests re-execute" \
        "the test binary"
    export GTEST_FILTER='-*DeathTest.*'
fi

run_suite() {
    local build="$1" began=$SECONDS
    shift
    cmake -S "$ROOT" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/zig.cmake" \
        -DTARNIX_ZIG_BIN="$zig_bin" -DTARNIX_ZIG_TARGET="$TARGET" -DTARNIX_QEMU="$qemu" \
        -DCMAKE_PREFIX_PATH="$prefix" -DTARNIX_MODULE=OFF -DTARNIX_TEST_PER_PROCESS=OFF "$@" >/dev/null
    nice cmake --build "$build" -j 2
    say "built after $((SECONDS - began)) s"
    ctest --test-dir "$build" --output-on-failure --no-tests=error --timeout "$ARMHF_SUITE_TIMEOUT"
    say "$(basename "$build") done after $((SECONDS - began)) s"
}

if [ "$which_builds" != undefined ]; then
    echo "== musl armhf: native tests under qemu-arm =="
    run_suite "$ROOT/build/musl-armhf" -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
if [ "$which_builds" != plain ]; then
    echo "== musl armhf: native tests under qemu-arm, UBSan =="
    run_suite "$ROOT/build/musl-armhf-ubsan" -DTARNIX_SANITIZE=undefined
fi
