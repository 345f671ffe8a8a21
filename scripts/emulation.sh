# Sourced by the scripts: whether this machine runs 32-bit x86 code only through the
# qemu-i386 that scripts/bootstrap.sh registers for it.
x86_under_emulation() { grep -qs '^enabled' /proc/sys/fs/binfmt_misc/qemu-i386; }
