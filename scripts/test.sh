#!/usr/bin/env bash
# Every test: the native GoogleTest suite through CTest, then the Python suite.
# In CI (CI=true) also the other platforms and builds, each a stage whose
# time is printed as it ends and again in a table at the end:
#   the Python suite on the free-threaded CPython 3.14 and on CPython 3.11;
#   (also with TARNIX_SANITIZERS=1) both suites under ASan+UBSan, the native
#   suite under TSan, the native suite cross-built for 32-bit ARM with glibc
#   (plain and ASan+UBSan) and with musl (plain and UBSan), run under qemu;
#   the Python suite on 32-bit ARM (a Debian armhf root under qemu);
#   a wheel per CPython found (3.11 to 3.14t), each installed into a fresh
#   venv and checked.
# Toolchains and interpreters are kept outside the clone (scripts/cache_lib.sh).
set -euo pipefail
T0=$SECONDS
TICKS=$(getconf CLK_TCK)
# CPU seconds used so far by this script's finished children: on a busy
# machine a stage's wall time is an upper bound, its CPU time is not.
children_cpu() { awk -v t="$TICKS" '{ printf "%d", ($16 + $17) / t }' "/proc/$$/stat"; }
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
# The .venv and the module in it (scripts/setup.sh) are the first stage.
STAGES=("$((SECONDS - T0))|$(children_cpu)|setup: .venv and the module")
# Runs a stage and keeps its time; a failing stage ends the run.
stage() {
    local name="$1" began=$SECONDS cpu
    cpu=$(children_cpu)
    shift
    echo "== [$((SECONDS - T0)) s] $name =="
    "$@"
    cpu=$(($(children_cpu) - cpu))
    STAGES+=("$((SECONDS - began))|$cpu|$name")
    echo "== [$((SECONDS - T0)) s] $name: done in $((SECONDS - began)) s (CPU $cpu s) =="
}
stage_table() {
    local total=$((SECONDS - T0)) entry rest
    [ "$total" -gt 0 ] || total=1
    echo "== stage times (total $((SECONDS - T0)) s, load average now $(cut -d' ' -f1-3 /proc/loadavg)) =="
    printf '%8s %5s %8s  %s\n' wall share CPU stage
    for entry in "${STAGES[@]}"; do
        rest="${entry#*|}"
        printf '%6d s %4d%% %6d s  %s\n' "${entry%%|*}" $((${entry%%|*} * 100 / total)) "${rest%%|*}" "${rest#*|}"
    done
}
trap stage_table EXIT

native_suite() {
    local build="$ROOT/build/native"
    cmake -S "$ROOT" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNIX_MODULE=OFF >/dev/null
    cmake --build "$build" -j "$(nproc)"
    ctest --test-dir "$build" --output-on-failure --no-tests=error -j "$(nproc)"
}

stage "native tests (GoogleTest)" native_suite
stage "Python tests (pytest), CPython 3.13" "$ROOT/scripts/pytest_run.sh" "$PY" "$@"

if [ "${CI:-}" = "true" ]; then
    stage "Python tests, free-threaded CPython 3.14" "$ROOT/scripts/python_suite.sh" 3.14t
    stage "Python tests, CPython 3.11" "$ROOT/scripts/python_suite.sh" 3.11
fi

if [ "${CI:-}" = "true" ] || [ "${TARNIX_SANITIZERS:-}" = "1" ]; then
    stage "sanitizers: ASan+UBSan (native and Python suites)" "$ROOT/scripts/sanitize.sh" address
    stage "sanitizers: TSan (native suite)" "$ROOT/scripts/sanitize.sh" thread
    stage "32-bit ARM, glibc: native suite under qemu, plain and ASan+UBSan" "$ROOT/scripts/armhf.sh"
    stage "32-bit ARM, musl: native suite under qemu, plain and UBSan" "$ROOT/scripts/musl_armhf.sh"
fi

if [ "${CI:-}" = "true" ]; then
    stage "32-bit ARM, glibc: Python suite (a Debian armhf root, under qemu)" "$ROOT/scripts/armhf_python.sh"
    stage "wheels: one per CPython, each installed into a fresh venv and checked" \
        sh -c '"$1/scripts/wheel.sh" && "$1/scripts/wheel_check.sh"' sh "$ROOT"
fi
