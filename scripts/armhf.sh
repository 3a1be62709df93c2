#!/usr/bin/env bash
# The native GoogleTest suite on 32-bit ARM (hard-float) Linux: cross-built
# with Debian's arm-linux-gnueabihf compilers against the armhf libraries
# (into build/armhf), run through CTest under trixie's qemu-arm
# (scripts/qemu_arm.sh), the one the musl suites and binfmt_misc use: under
# bookworm's (7.2) a long ASan run gets memory above the 3 GiB ASan's 32-bit
# runtime covers, and its report then hangs. Then the same under
# ASan+UBSan (into build/armhf-asan; leak checking is off: it cannot stop the
# threads under qemu).
#   scripts/armhf.sh            both builds
#   scripts/armhf.sh plain      the plain build only
#   scripts/armhf.sh address    the ASan+UBSan build only
# Installs what it needs once (as root): the armhf architecture, the cross
# compilers and the armhf libraries.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
source "$ROOT/scripts/armhf_lib.sh"
which_builds="${1:-all}"
case "$which_builds" in all | plain | address) ;; *)
    echo "usage: $0 [all|plain|address]" >&2
    exit 2
    ;;
esac

# Builds and runs one variant; extra arguments go to CMake. CTest runs the
# suite as one test: under qemu each process costs a second or more to start
# (two with ASan), far more than most tests take.
run_suite() {
    local build="$1"
    shift
    cmake -S "$ROOT" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/armhf-linux-gnueabihf.cmake" \
        -DCMAKE_CROSSCOMPILING_EMULATOR="$qemu" -DTARNIX_MODULE=OFF -DTARNIX_TEST_PER_PROCESS=OFF "$@" >/dev/null
    cmake --build "$build" -j "$(nproc)"
    local status=0
    "$build/tarnix_native_tests" --gtest_list_tests >/dev/null 2>&1 || status=$?
    if [ "$status" -eq 126 ]; then
        echo "[armhf] SKIPPED *DeathTest.*: this kernel does not run ARM executables (qemu-arm not" \
            "registered with binfmt_misc), and death tests re-execute the test binary"
        export GTEST_FILTER='-*DeathTest.*'
    fi
    ctest --test-dir "$build" --output-on-failure --no-tests=error --timeout "$ARMHF_SUITE_TIMEOUT"
}

armhf_install g++-arm-linux-gnueabihf \
    libtbb-dev:armhf libabsl-dev:armhf libgtest-dev:armhf libasan8:armhf libubsan1:armhf
qemu="$("$ROOT/scripts/qemu_arm.sh")"
armhf_register_binfmt || armhf_say "cannot register qemu-arm with binfmt_misc"

if [ "$which_builds" != address ]; then
    echo "== armhf: native tests under qemu-arm =="
    run_suite "$ROOT/build/armhf" -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
if [ "$which_builds" != plain ]; then
    echo "== armhf: native tests under qemu-arm, ASan+UBSan =="
    ASAN_OPTIONS="detect_leaks=0:abort_on_error=1" UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
        run_suite "$ROOT/build/armhf-asan" -DTARNIX_SANITIZE=address
fi
