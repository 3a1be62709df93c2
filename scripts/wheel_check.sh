#!/usr/bin/env bash
# Installs each wheel in dist/ (scripts/wheel.sh) into a fresh venv of its
# CPython under build/wheel-check/<tag> that has only numpy and pandas, and
# checks it there with an empty LD_LIBRARY_PATH: the module resolves oneTBB and
# abseil to the copies in the wheel and nothing else but the C and C++ runtime,
# the typing stub is installed beside it, and a small array and frame go
# through encode and decode (on a free-threaded interpreter, with the GIL
# still off afterwards).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
say() { printf '[wheel_check] %s\n' "$*" >&2; }

wheels=("$ROOT"/dist/tarnix-*-manylinux_*.whl)
if [ ! -f "${wheels[0]}" ]; then
    say "no manylinux wheel in dist/ (run scripts/wheel.sh)"
    exit 1
fi

check_wheel() {
    local wheel="$1" tag version
    tag="$(basename "$wheel" | cut -d- -f4)"  # cp311, cp314t
    version="${tag#cp3}"
    version="3.${version}"
    local check="$ROOT/build/wheel-check/$tag"
    say "installing ${wheel##*/} into a fresh venv of CPython $version"
    rm -rf "$check"
    "$(find_python "$version")" -m venv "$check"
    "$check/bin/python" -m pip install -q --disable-pip-version-check numpy pandas
    "$check/bin/python" -m pip install -q --disable-pip-version-check "$wheel"

    say "checking the installed module"
    (cd "$check" && LD_LIBRARY_PATH= "$check/bin/python" - <<'PY'  # nothing of the source tree on the path
import pathlib
import subprocess
import sysconfig

import numpy as np
import pandas as pd

import tarnix

site = pathlib.Path(sysconfig.get_paths()["platlib"])
module = pathlib.Path(tarnix.__file__)
assert module.parent == site, module
for stub in (site / "tarnix.pyi", site / "tarnix-stubs" / "__init__.pyi"):
    assert stub.is_file(), f"no {stub}"

# Everything the module links must come from the wheel, or be the C and C++ runtime.
runtime = {"linux-vdso.so.1", "libc.so.6", "libm.so.6", "libstdc++.so.6", "libgcc_s.so.1",
           "libpthread.so.0", "libdl.so.2", "librt.so.1"}
bundled = site / "tarnix.libs"
listing = subprocess.run(["ldd", str(module)], capture_output=True, text=True, check=True).stdout
print(listing, end="")
from_wheel = []
for line in listing.splitlines():
    words = line.split()
    name, path = words[0], (words[2] if words[1:2] == ["=>"] else "")
    assert path != "not", line  # "=> not found"
    if path and pathlib.Path(path).parent == bundled:
        from_wheel.append(name)
    elif name not in runtime and not pathlib.Path(name).name.startswith("ld-linux"):
        raise AssertionError(f"linked from outside the wheel: {line.strip()}")
assert any("tbb" in n for n in from_wheel) and any("absl" in n for n in from_wheel), from_wheel
# and those are the files this process has loaded
with open("/proc/self/maps") as maps:
    loaded = {pathlib.Path(l.split()[-1]) for l in maps if "libtbb" in l or "libabsl" in l}
assert loaded and all(p.parent == bundled for p in loaded), loaded

enc = tarnix.Encoder()
table = np.array([["oslo", 1.5], ["bergen", 2.5], ["oslo", None]], dtype=object)
codes = enc.encode(table)
assert codes.dtype == np.float64 and codes[:, 0].tolist() == [1.0, 0.0, 1.0], codes
assert enc.decode(codes)[:, 0].tolist() == ["oslo", "bergen", "oslo"]
frame = pd.DataFrame({"city": ["Oslo", "Bergen", "Oslo"], "n": [1, 2, 3]})
coded = enc.encode(frame)
assert coded.to_numpy().tolist() == [[1.0, 1.0], [0.0, 2.0], [1.0, 3.0]], coded
assert enc.decode(coded)["city"].tolist() == ["Oslo", "Bergen", "Oslo"]
if sysconfig.get_config_var("Py_GIL_DISABLED"):
    import sys
    assert not sys._is_gil_enabled(), "the GIL came back"
print(f"wheel ok: {module.name} with {', '.join(sorted(from_wheel))} from the wheel")
PY
)
}

for wheel in "${wheels[@]}"; do check_wheel "$wheel"; done
