# 32-bit Windows programs on this 64-bit machine: the kernel runs no 32-bit ELF, so Wine's 32-bit
# loader runs under qemu's user-mode emulator. Sourced by scripts/setup for --i686.
#
# i386_emulation_missing      prints what is not there yet (nothing when all is in place)
# i386_emulation_install      puts it in place; each step is skipped when already done
# apt_get ARG...              apt-get from Debian's archive, as root (through sudo when not root)
#
# What it needs, all from Debian's archive:
#   the i386 architecture for dpkg, for wine32:i386;
#   qemu-user from bookworm-backports (qemu 10; its emulators are static, and qemu-user-static is
#   only a transitional name for it there): bookworm's own qemu 7.2 treats MAP_FIXED_NOREPLACE as
#   a hint, and Wine's 32-bit loader then fails to map its shared user data (c0000018);
#   wine32:i386, the 32-bit Wine loader and DLLs;
#   gcc-multilib, which builds the small 32-bit library that mends qemu's signal contexts
#   (tests/i686/trapno);
# and, outside the package manager, qemu-i386 registered with binfmt_misc for i386 ELF files
# (Debian's package leaves that out on an amd64 host; the registration is lost at reboot).

I386_BACKPORTS_LIST=/etc/apt/sources.list.d/bookworm-backports.sources
I386_BINFMT=/proc/sys/fs/binfmt_misc
I386_QEMU_MIN_VERSION=1:8.0
i386_packages=(wine32:i386 gcc-multilib)

apt_get() {
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 "$@"
}

i386_installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q '^install ok installed$'
}

i386_qemu_version_ok() {
  local v
  v=$(dpkg-query -W -f='${Version}' qemu-user 2>/dev/null) || return 1
  dpkg --compare-versions "$v" ge "$I386_QEMU_MIN_VERSION"
}

# The static emulator that qemu's packages ship for i386 programs.
i386_qemu_binary() {
  local f
  for f in /usr/bin/qemu-i386-static /usr/bin/qemu-i386; do
    [ -x "$f" ] && { echo "$f"; return 0; }
  done
  return 1
}

i386_emulation_missing() {
  dpkg --print-foreign-architectures | grep -qx i386 || echo "architecture:i386"
  [ -f "$I386_BACKPORTS_LIST" ] || echo "source:bookworm-backports"
  i386_qemu_version_ok || echo "qemu-user/bookworm-backports"
  local p
  for p in "${i386_packages[@]}"; do i386_installed "$p" || echo "$p"; done
  [ -e "$I386_BINFMT/qemu-i386" ] || echo "binfmt:qemu-i386"
}

i386_emulation_install() {
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"

  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "setup: adding the i386 architecture"
    $sudo dpkg --add-architecture i386
  fi
  if [ ! -f "$I386_BACKPORTS_LIST" ]; then
    echo "setup: adding Debian's bookworm-backports suite (only qemu is taken from it)"
    printf '%s\n' 'Types: deb' 'URIs: http://deb.debian.org/debian' 'Suites: bookworm-backports' \
      'Components: main' 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' |
      $sudo tee "$I386_BACKPORTS_LIST" >/dev/null
  fi
  local wanted=()
  i386_qemu_version_ok || wanted+=(qemu-user/bookworm-backports)
  local p
  for p in "${i386_packages[@]}"; do i386_installed "$p" || wanted+=("$p"); done
  if [ ${#wanted[@]} -gt 0 ]; then
    apt_get update -qq
    echo "setup: installing ${wanted[*]} (the first time takes a few minutes)"
    apt_get install -y -qq --no-install-recommends "${wanted[@]}" >/dev/null
  fi
  i386_register_binfmt "$sudo"
}

# qemu-i386 for every i386 ELF executable or shared object; the F flag opens the emulator now, so
# it is found whatever root or namespace a program later runs in.
i386_register_binfmt() {
  local sudo=$1 qemu
  qemu=$(i386_qemu_binary) || { echo "setup: no qemu-i386 emulator was installed" >&2; return 1; }
  if [ ! -e "$I386_BINFMT/register" ]; then
    $sudo mount -t binfmt_misc binfmt_misc "$I386_BINFMT"
  fi
  [ -e "$I386_BINFMT/qemu-i386" ] && return 0
  echo "setup: registering $qemu for i386 programs (binfmt_misc)"
  local magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  local mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  echo ":qemu-i386:M::$magic:$mask:$qemu:F" | $sudo tee "$I386_BINFMT/register" >/dev/null
}
