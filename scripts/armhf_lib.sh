# Helpers of the armhf scripts; sourced after setup.sh (which gives as_root).

armhf_say() { printf '[armhf] %s\n' "$*" >&2; }

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

# Lets the kernel hand ARM executables to qemu-arm-static (qemu-user-static's
# registration, which opens the interpreter at once, so that it also serves
# inside a chroot). Fails where binfmt_misc cannot be mounted or written (an
# unprivileged container, say).
armhf_register_binfmt() {
    local dir=/proc/sys/fs/binfmt_misc
    if [ ! -e "$dir/register" ]; then
        as_root mount -t binfmt_misc binfmt_misc "$dir" 2>/dev/null || return 1
    fi
    if [ ! -e "$dir/qemu-arm" ]; then
        as_root sh -c "cat /usr/lib/binfmt.d/qemu-arm.conf > $dir/register" 2>/dev/null || return 1
    fi
    if ! grep -qx enabled "$dir/qemu-arm"; then
        as_root sh -c "echo 1 > $dir/qemu-arm" 2>/dev/null || return 1
    fi
}
