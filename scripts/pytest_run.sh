#!/usr/bin/env bash
# Runs the Python suite with the given interpreter, from the clone's root:
#   scripts/pytest_run.sh PYTHON [pytest args]
# The tests are spread over up to 4 worker processes, one per core, when
# pytest-xdist is installed and the arguments do not choose (-n, -p no:xdist).
# Collecting no test is a failure.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
py="${1:?usage: $0 PYTHON [pytest args]}"
shift
workers=()
cores="$(nproc)"
if [ "$cores" -gt 1 ] && "$py" -c 'import xdist' 2>/dev/null; then
    workers=(-n "$((cores < 4 ? cores : 4))")
fi
for arg in "$@"; do
    case "$arg" in -n | -n[0-9]* | -nauto | --numprocesses | --numprocesses=* | no:xdist) workers=() ;; esac
done
status=0
(cd "$ROOT" && "$py" -m pytest -q -p no:cacheprovider "${workers[@]}" "$@") || status=$?
if [ "$status" -eq 5 ]; then
    echo "pytest collected no tests" >&2
    exit 1
fi
exit "$status"
