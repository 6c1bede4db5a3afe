# A Linux guest under qemu whose kernel has a SCSI layer, for runs against a real SCSI stack.
# Sourced by scripts/test-real-stack.
#
# guest_prepare DIR   installs qemu-system-x86 from bookworm-backports, unpacks Debian 12's kernel
#                     and busybox-static into DIR and builds DIR/initramfs.gz (busybox, the kernel
#                     modules below, scripts/lib/guest-init); each step is skipped when done
# guest_boot DIR SHARE SCRIPT LIMIT CONSOLE KEEP
#                     boots the guest, runs SCRIPT as root inside it with SHARE writable, the
#                     console going to the file CONSOLE; ends qemu after LIMIT seconds. The
#                     guest has a /tmp of its own; KEEP names the host's folders under /tmp
#                     (separated by colons) that it still shows.
#
# Everything comes from Debian's archive. The kernel is bookworm's own (6.1): its target core
# serves a SCSI device from user space (target_core_user) and shows it to the same kernel as a
# SCSI host (tcm_loop), which sr and sg then drive as a CD drive.

guest_lib=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$guest_lib/i386-emulation.sh" # apt_get
GUEST_MODULES=(virtio_pci 9pnet_virtio 9p overlay crct10dif_generic target_core_user tcm_loop sr_mod sg)

# qemu 10 from bookworm-backports (the suite scripts/setup --i686 already adds for qemu-user).
guest_install_qemu() {
  local v
  v=$(dpkg-query -W -f='${Version}' qemu-system-x86 2>/dev/null) || v=0
  dpkg --compare-versions "$v" ge 1:10.0 && return 0
  echo "guest: installing qemu-system-x86 from bookworm-backports"
  # scripts/setup --i686 has just read the suite's list on a new machine: read it again only
  # when the package is not found.
  apt_get install -y -qq --no-install-recommends -t bookworm-backports qemu-system-x86 \
    >/dev/null 2>&1 ||
    { apt_get update -qq &&
      apt_get install -y -qq --no-install-recommends -t bookworm-backports qemu-system-x86 \
        >/dev/null; }
}

# The name of bookworm's current 6.1 kernel package (what linux-image-amd64 of bookworm depends on).
guest_kernel_package() {
  apt-cache show linux-image-amd64 2>/dev/null |
    awk '/^Version: 6\.1\./ { v = 1 } v && /^Depends:/ { print $2; exit }'
}

guest_unpack() {
  local dir=$1 kernel debs="$1/debs"
  kernel=$(guest_kernel_package)
  if [ -z "$kernel" ]; then
    apt_get update -qq
    kernel=$(guest_kernel_package)
  fi
  [ -n "$kernel" ] || { echo "guest: no linux-image-6.1 package in Debian's archive" >&2; return 1; }
  mkdir -p "$debs"
  (cd "$debs" && apt-get -qq -o APT::Sandbox::User=root download "$kernel" busybox-static)
  rm -rf "$dir/kernel" "$dir/busybox"
  dpkg -x "$debs/${kernel}"_*.deb "$dir/kernel"
  dpkg -x "$debs"/busybox-static_*.deb "$dir/busybox"
  rm -rf "$debs"
}

# The initramfs: busybox, /init, the modules named above with everything they depend on.
guest_initramfs() {
  local dir=$1 stage="$1/initramfs" bb="$1/busybox/bin/busybox" release m dep
  release=$(ls "$dir/kernel/lib/modules")
  local mods="$dir/kernel/lib/modules/$release"
  [ -f "$mods/modules.dep" ] || "$bb" depmod -b "$dir/kernel" "$release"
  rm -rf "$stage"
  mkdir -p "$stage"/{bin,dev,proc,sys,lib/modules/"$release"}
  cp "$bb" "$stage/bin/busybox"
  cp "$guest_lib/guest-init" "$stage/init"
  printf '%s\n' "${GUEST_MODULES[@]}" >"$stage/modules"
  for m in "${GUEST_MODULES[@]}"; do
    for dep in $(grep -E "/$m\.ko:" "$mods/modules.dep" | tr -d :); do
      mkdir -p "$stage/lib/modules/$release/$(dirname "$dep")"
      cp "$mods/$dep" "$stage/lib/modules/$release/$dep"
    done
  done
  cp "$mods"/modules.{builtin,order} "$stage/lib/modules/$release/"
  "$bb" depmod -b "$stage" "$release"
  (cd "$stage" && find . | "$bb" cpio -o -H newc 2>/dev/null | gzip -1 >"$dir/initramfs.gz.new")
  mv "$dir/initramfs.gz.new" "$dir/initramfs.gz"
  cp "$dir/kernel/boot/vmlinuz-$release" "$dir/vmlinuz"
  rm -rf "$stage"
}

guest_prepare() {
  local dir=$1
  guest_install_qemu
  mkdir -p "$dir"
  # Made again whenever the guest's init changed; the unpacked packages are not kept.
  if [ ! -f "$dir/vmlinuz" ] || [ ! -f "$dir/initramfs.gz" ] ||
    [ "$guest_lib/guest-init" -nt "$dir/initramfs.gz" ]; then
    echo "guest: unpacking Debian's kernel and busybox, building the initramfs"
    guest_unpack "$dir"
    guest_initramfs "$dir"
    rm -rf "$dir/kernel" "$dir/busybox"
  fi
}

# TCG: this machine's /dev/kvm is of a paravirtual kind that a stock guest kernel cannot use.
guest_boot() {
  local dir=$1 share=$2 script=$3 limit=$4 console=$5 keep=$6
  timeout --kill-after=5 "$limit" qemu-system-x86_64 \
    -accel tcg,thread=multi -cpu max -smp 2 -m 2048 -M q35 \
    -display none -no-reboot -nodefaults -serial "file:$console" \
    -kernel "$dir/vmlinuz" -initrd "$dir/initramfs.gz" \
    -append "console=ttyS0 quiet loglevel=3 panic=-1 m770b.share=$share m770b.script=$script m770b.keep=$keep" \
    -fsdev local,id=hostroot,path=/,readonly=on,security_model=none,multidevs=remap \
    -device virtio-9p-pci,fsdev=hostroot,mount_tag=hostroot \
    -fsdev local,id=share,path="$share",security_model=passthrough,multidevs=remap \
    -device virtio-9p-pci,fsdev=share,mount_tag=share </dev/null
}
