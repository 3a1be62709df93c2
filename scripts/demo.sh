#!/usr/bin/env bash
# The main job: encode and decode the bundled sample tables and show what happened.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
exec "$PY" "$ROOT/examples/demo.py" "$@"
