# Helpers of the armhf scripts; sourced after ROOT is set.

armhf_say() { printf '[armhf] %s\n' "$*" >&2; }

# CTest's limit on one native suite under qemu, in seconds. The slowest, the
# glibc ASan+UBSan suite, takes about two minutes on an idle core; a sanitizer
# report that hangs under emulation must not take the CI run's time with it.
ARMHF_SUITE_TIMEOUT=900

if ! declare -F as_root >/dev/null; then
    as_root() {
        if [ "$(id -u)" -eq 0 ]; then "$@"; elif command -v sudo >/dev/null; then sudo "$@"; else
            armhf_say "need root for: $*"
            return 1
        fi
    }
fi

# Installs the Debian packages named (armhf ones as name:armhf) that are
# missing, adding the armhf architecture to dpkg first when one is wanted.
armhf_install() {
    local missing=() pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if printf '%s\n' "${missing[@]}" | grep -q ':armhf$' &&
        ! dpkg --print-foreign-architectures | grep -qx armhf; then
        armhf_say "adding the armhf architecture to dpkg"
        as_root dpkg --add-architecture armhf
    fi
    armhf_say "installing Debian packages: ${missing[*]}"
    as_root apt-get update -qq
    DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq "${missing[@]}" >/dev/null
}

# Lets the kernel hand ARM executables to trixie's qemu-arm
# (scripts/qemu_arm.sh), registered as Debian registers it: through its
# -binfmt-P name with the flags POCF (argv[0] kept; the interpreter opened at
# once, so that it also serves inside a chroot). Another registration of
# qemu-arm is replaced: bookworm's qemu-arm (7.2) leaves a musl program
# spinning in pthread_getattr_np's mremap probe of the main thread's stack.
# Fails where binfmt_misc cannot be mounted or written (an unprivileged
# container, say).
armhf_register_binfmt() {
    local dir=/proc/sys/fs/binfmt_misc qemu interpreter
    qemu="$("$ROOT/scripts/qemu_arm.sh")" || return 1
    interpreter="${qemu%/bin/qemu-arm}/libexec/qemu-binfmt/arm-binfmt-P"
    if [ ! -e "$dir/register" ]; then
        as_root mount -t binfmt_misc binfmt_misc "$dir" 2>/dev/null || return 1
    fi
    # An entry of another qemu-arm 8 or newer (of another cache, say) serves
    # as well, and is kept: replacing it would pull it from under any run
    # that uses it.
    local current
    current="$(sed -n 's/^interpreter //p' "$dir/qemu-arm" 2>/dev/null || true)"
    local current_qemu="${current%/libexec/qemu-binfmt/arm-binfmt-P}/bin/qemu-arm"
    if [ -n "$current" ] && [ "$current" != "$interpreter" ] && [ -x "$current" ] && [ -x "$current_qemu" ] &&
        [ "$("$current_qemu" --version 2>/dev/null | sed -nE 's/.*version ([0-9]+)\..*/\1/p' | head -n 1)" -ge 8 ] 2>/dev/null; then
        interpreter="$current"
    fi
    if [ -e "$dir/qemu-arm" ] && ! grep -qx "interpreter $interpreter" "$dir/qemu-arm"; then
        armhf_say "replacing the binfmt_misc entry qemu-arm ($current)"
        as_root sh -c "echo -1 > $dir/qemu-arm" 2>/dev/null || return 1
    fi
    if [ ! -e "$dir/qemu-arm" ]; then
        local magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x28\x00'
        local mask='\xff\xff\xff\xff\xff\xff\xff\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
        as_root sh -c "printf '%s' ':qemu-arm:M::$magic:$mask:$interpreter:POCF' > $dir/register" 2>/dev/null ||
            return 1
    fi
    if ! grep -qx enabled "$dir/qemu-arm"; then
        as_root sh -c "echo 1 > $dir/qemu-arm" 2>/dev/null || return 1
    fi
}
