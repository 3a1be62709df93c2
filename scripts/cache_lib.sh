# Helpers for toolchains kept outside the clone; sourced by the scripts that
# need them.
#   TARNIX_CACHE   cache root (default ${XDG_CACHE_HOME:-~/.cache}/tarnix)

TARNIX_CACHE="${TARNIX_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tarnix}"

# The URI of the machine's own Debian archive: its apt source entry for the
# release it runs.
debian_archive() {
    local codename file
    codename="$(. /etc/os-release && echo "${VERSION_CODENAME:-}")"
    {
        for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
            [ -f "$file" ] || continue
            sed -E 's/\[[^]]*\]//' "$file" | awk -v suite="$codename" '$1 == "deb" && $3 == suite { print $2 }'
        done
        for file in /etc/apt/sources.list.d/*.sources; do
            [ -f "$file" ] || continue
            awk -v suite="$codename" '
                function flush() { if (deb && match_suite && enabled && uri != "") print uri
                                   deb = 0; match_suite = 0; enabled = 1; uri = "" }
                BEGIN { enabled = 1 }
                /^[[:space:]]*$/ { flush(); next }
                /^Types:/ { for (i = 2; i <= NF; i++) if ($i == "deb") deb = 1 }
                /^URIs:/ { uri = $2 }
                /^Suites:/ { for (i = 2; i <= NF; i++) if ($i == suite) match_suite = 1 }
                /^Enabled:[[:space:]]*no/ { enabled = 0 }
                END { flush() }' "$file"
        done
    } | head -n 1
}

# Runs apt-get against a private state in DIR whose only source is the
# machine's Debian archive for SUITE (binaries and sources of main), so that
# packages of another release can be fetched without touching the machine's
# apt setup: apt_private DIR SUITE update | download NAME | source ...
apt_private() {
    local dir="$1" suite="$2" archive arch
    shift 2
    arch="$(dpkg --print-architecture)"
    mkdir -p "$dir/lists/partial" "$dir/archives/partial" "$dir/parts"
    touch "$dir/status"
    if [ ! -f "$dir/sources.list" ]; then
        archive="$(debian_archive)"
        if [ -z "$archive" ]; then
            echo "no Debian archive found in the machine's apt sources" >&2
            return 1
        fi
        printf 'deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] %s %s main\n' "$archive" "$suite" \
            > "$dir/sources.list"
        printf 'deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] %s %s main\n' "$archive" \
            "$suite" >> "$dir/sources.list"
    fi
    apt-get -qq -o "Dir::Etc::SourceList=$dir/sources.list" -o "Dir::Etc::SourceParts=$dir/parts" \
        -o "Dir::State::Lists=$dir/lists" -o "Dir::Cache::archives=$dir/archives" \
        -o "Dir::State::Status=$dir/status" -o "Debug::NoLocking=1" -o "APT::Sandbox::User=root" -o "APT::Architecture=$arch" -o "APT::Architectures=$arch" "$@"
}

# The path of a CPython X.Y ("3.11") on PATH as pythonX.Y, or pyenv's X.Y
# (whose shim answers only with PYENV_VERSION set); "3.14t" is the
# free-threaded 3.14 of scripts/py314t.sh, built once into the cache.
find_python() {
    local want="$1" version
    if [ "$want" = 3.14t ]; then
        "$(dirname "${BASH_SOURCE[0]}")/py314t.sh"
        return
    fi
    if command -v "python$want" >/dev/null 2>&1 && "python$want" -c 'import sys' >/dev/null 2>&1; then
        command -v "python$want"
        return 0
    fi
    if command -v pyenv >/dev/null 2>&1; then
        version="$(pyenv versions --bare 2>/dev/null | grep -E "^${want//./\\.}(\.[0-9]+)?\$" | sort -V | tail -n 1 || true)"
        if [ -n "$version" ]; then
            PYENV_VERSION="$version" pyenv which "python$want"
            return 0
        fi
    fi
    echo "no CPython $want found (tried python$want and pyenv)" >&2
    return 1
}
