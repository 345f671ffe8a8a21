# How the x86 tests run on this machine, for their labels: natively, or under the
# qemu-i386 that scripts/bootstrap.sh registers where the machine runs no 32-bit code
# (or where TARVO_EMULATE_X86=1 asked for it). Read once per configuration of the
# whole build, which hands it to both trees.
if(NOT DEFINED TARVO_X86_RUNS)
  set(TARVO_X86_RUNS native)
  if(EXISTS /proc/sys/fs/binfmt_misc/qemu-i386)
    file(READ /proc/sys/fs/binfmt_misc/qemu-i386 registration)
    if(registration MATCHES "^enabled")
      set(TARVO_X86_RUNS under-emulation)
    endif()
  endif()
endif()
