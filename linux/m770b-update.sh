#!/bin/sh
# Rewrites the firmware of ZD-M770B drives from Linux: M770BUpdate.exe under 32-bit Wine, with
# the wnaspi32.dll beside it, over the drives Linux shows in firmware-loader mode.
#   sh m770b-update.sh [FOLDER]
# FOLDER holds Firmware.bin and receives the program's record, M770BUpdate.log (default: the
# folder of this script, which must lie beside M770BUpdate.exe and wnaspi32.dll).
# WINE names the Wine loader to use when the script does not find a 32-bit one by itself.
# It runs as root (re-running itself under sudo) in a Wine prefix of its own, ~root/.wine-m770b.
set -u

say() { printf '%s\n' "$*"; }
die() {
  printf 'm770b-update: %s\n' "$*" >&2
  exit 1
}

here=$(cd "$(dirname "$0")" && pwd) || die "cannot find the folder of $0"
self="$here/$(basename "$0")"
folder=$(cd "${1:-$here}" 2>/dev/null && pwd) || die "no folder ${1:-}"
for f in M770BUpdate.exe wnaspi32.dll; do
  [ -f "$here/$f" ] || die "no $f beside this script in $here: unzip every file of the release into one folder"
done
[ -f "$folder/Firmware.bin" ] || die "no Firmware.bin in $folder: put the firmware image there"
[ -n "${DISPLAY:-}" ] || die "no display (DISPLAY is not set): run this from a terminal of your desktop"

# ---- 32-bit Wine ----------------------------------------------------------------------------
# The program is a 32-bit Windows program: it needs Wine's 32-bit loader (an i386 ELF file),
# found where the distributions put it, or the loader named by WINE.
elf32() { [ "$(od -An -tx1 -N5 "$1" 2>/dev/null | tr -d ' \n')" = 7f454c4601 ]; }
wine=""
if [ -n "${WINE:-}" ]; then
  "$WINE" --version >/dev/null 2>&1 && wine=$WINE
else
  for w in /usr/lib/wine/wine /usr/bin/wine32 "$(command -v wine)" /opt/wine-stable/bin/wine \
    /opt/wine-staging/bin/wine /opt/wine-devel/bin/wine; do
    if [ -x "$w" ] && elf32 "$w" && "$w" --version >/dev/null 2>&1; then
      wine=$w
      break
    fi
  done
fi
if [ -z "$wine" ]; then
  {
    say "m770b-update: no 32-bit Wine${WINE:+ at $WINE}. M770BUpdate.exe is a 32-bit Windows program and"
    say "needs Wine's 32-bit loader. Install it, then run this again:"
    say "  Debian, Ubuntu:  sudo dpkg --add-architecture i386 && sudo apt update && sudo apt install wine32:i386"
    say "  Fedora:          sudo dnf install wine.i686"
    say "A Wine installed elsewhere: WINE=/path/to/its/wine sh $self"
  } >&2
  exit 1
fi
wineserver="$(dirname "$wine")/wineserver"
[ -x "$wineserver" ] || wineserver=$(command -v wineserver) || die "no wineserver beside $wine"

# ---- The drives in firmware-loader mode ------------------------------------------------------
# The letters the program itself checks in the INQUIRY data: vendor characters 1-7 "VANDREL",
# product characters 2-8 "Program" and 10-14 "Mode1" (Linux shows the 8 vendor and 16 product
# characters as the device's vendor and model).
loaders=""
for dev in /sys/class/scsi_device/*/device; do
  [ -r "$dev/model" ] || continue
  case "$(cat "$dev/vendor")" in VANDREL*) ;; *) continue ;; esac
  case "$(cat "$dev/model")" in ?Program?Mode1*) ;; *) continue ;; esac
  sr="" sg=""
  for n in "$dev"/block/sr*; do [ -e "$n" ] && sr=/dev/${n##*/}; done
  for n in "$dev"/scsi_generic/sg*; do [ -e "$n" ] && sg=/dev/${n##*/}; done
  hctl=$(basename "$(dirname "$dev")")
  [ -n "$sr" ] || die "the loader at $hctl has no /dev/srN: load Linux's CD driver (modprobe sr_mod)"
  loaders="$loaders$hctl $sr ${sg:-(no sg)}
"
done
loaders=$(printf '%s' "$loaders" | sort -t: -k1,1n -k2,2n -k3,3n -k4,4n)
if [ -z "$loaders" ]; then
  {
    say "m770b-update: no drive in firmware-loader mode (vendor \"VANDREL\", product with \"Program\" at"
    say "characters 2-8 and \"Mode1\" at 10-14)."
    say "Check that the firmware jumper is shorted and the drive was powered off and on since, its"
    say "SCSI ID is unique on the bus, the cable and terminator are seated. Linux sees:"
    seen=0
    for dev in /sys/class/scsi_device/*/device; do
      [ -r "$dev/model" ] || continue
      say "  $(basename "$(dirname "$dev")")  $(cat "$dev/vendor") $(cat "$dev/model")"
      seen=1
    done
    [ $seen = 1 ] || say "  no SCSI device at all (is the adapter's driver loaded?)"
    say "A drive Linux saw before its power cycle keeps the name it had then: remove it and let"
    say "Linux look again (H:C:T:L as listed above, H the host number):"
    say "  echo 1 | sudo tee /sys/class/scsi_device/H:C:T:L/device/delete"
    say "  echo '- - -' | sudo tee /sys/class/scsi_host/hostH/scan"
  } >&2
  exit 1
fi

# ---- Root ------------------------------------------------------------------------------------
if [ "$(id -u)" -ne 0 ]; then
  say "The update runs as root: Linux lets only a process with CAP_SYS_RAWIO send the drive's"
  say "vendor commands (erase, write, checksum); without it the program can only show"
  say "\"Device access security violation.\""
  command -v sudo >/dev/null 2>&1 || die "run it as root: su -c 'sh $self $folder'"
  say "Running it again under sudo."
  exec sudo -H env DISPLAY="${DISPLAY:-}" XAUTHORITY="${XAUTHORITY:-$HOME/.Xauthority}" \
    WINE="${WINE:-}" sh "$self" "$folder"
fi

# ---- The Wine prefix, its drive letters ------------------------------------------------------
prefix="$HOME/.wine-m770b"
export WINEPREFIX="$prefix" WINEDEBUG="${WINEDEBUG:--all}"
say "Wine prefix: $prefix"
if [ ! -f "$prefix/system.reg" ]; then
  say "Making it (once; this takes a minute)."
  # No Mono, Gecko or menu entries: the program needs none of them.
  WINEARCH=win32 WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" \
    "$wine" wineboot --init >/dev/null 2>&1
  "$wineserver" -w
  [ -f "$prefix/system.reg" ] || die "Wine could not make the prefix $prefix"
fi
# Wine's mount manager takes its drive letters when Wine starts in the prefix: none may run now.
if command -v timeout >/dev/null 2>&1 && ! timeout 2 "$wineserver" -w; then
  die "Wine is still running in $prefix (the update already open?): let it end, then run this again"
fi
# One CD-ROM letter from D: on for each loader: its dosdevices links (the folder it stands for,
# the device behind it) and its type in HKLM\Software\Wine\Drives. Mapped again each run, as
# /dev/srN can change when the drives are powered off and on.
letters="d e f g h i j k l m n o p q r s t u v w x y"
for l in $letters; do rm -f "$prefix/dosdevices/$l:" "$prefix/dosdevices/$l::"; done
say "Drives in firmware-loader mode (H:C:T:L, the node it is written through, its letter in Wine):"
# shellcheck disable=SC2086 # one positional parameter per letter
set -- $letters
missing=""
first=""
while read -r hctl sr sg; do
  l=$1
  shift
  mkdir -p "$prefix/drive_$l"
  ln -s "../drive_$l" "$prefix/dosdevices/$l:"
  ln -s "$sr" "$prefix/dosdevices/$l::"
  grep -qx "\"$l:\"=\"cdrom\"" "$prefix/system.reg" || missing="$missing $l"
  bus=${hctl%:*:*}
  target=${hctl#*:*:}
  note=""
  [ -n "$first" ] || first=$bus
  if [ "$bus" != "$first" ] || [ "${target%:*}" -gt 6 ] || [ "${target#*:}" != 0 ]; then
    note="  (not offered: the program writes the loaders of its first bus, IDs 0-6, LUN 0)"
  fi
  say "  $hctl  $sr  $sg  $(printf '%s' "$l" | tr '[:lower:]' '[:upper:]'):$note"
done <<EOF
$loaders
EOF
if [ -n "$missing" ]; then
  reg="$prefix/m770b-drives.reg"
  {
    printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Drives]\r\n'
    for l in $missing; do printf '"%s:"="cdrom"\r\n' "$l"; done
  } >"$reg"
  "$wine" reg import "Z:$reg" >/dev/null 2>&1
  "$wineserver" -w
  for l in $missing; do
    grep -qx "\"$l:\"=\"cdrom\"" "$prefix/system.reg" || die "Wine did not take drive $l: as a CD-ROM"
  done
fi

# ---- The run -----------------------------------------------------------------------------------
set -- "$wine" "$here/M770BUpdate.exe"
what=sleep:shutdown:idle:handle-lid-switch
why="ZD-M770B firmware update: an interrupted write leaves the drive unusable"
if [ -d /run/systemd/system ] && command -v systemd-inhibit >/dev/null 2>&1 &&
  systemd-inhibit --what="$what" --why="$why" true; then
  set -- systemd-inhibit --what="$what" --why="$why" "$@"
  say "Sleep, shut-down, idle and the lid switch are held off while it runs (systemd-inhibit)."
else
  say "Nothing holds off sleep or shut-down while it runs: systemd is not running here, and under"
  say "Wine the program's own requests (SetThreadExecutionState, ShutdownBlockReasonCreate) do"
  say "nothing. Keep the machine awake, and do not log out, until the program has ended."
fi
log="$folder/M770BUpdate.log"
before=0
[ -f "$log" ] && before=$(($(wc -c <"$log")))
say "Starting M770BUpdate.exe in $folder"
# A terminal closed during the write must not end it.
trap '' HUP
(cd "$folder" && WINEDLLOVERRIDES=wnaspi32=n exec "$@")
rc=$?
if [ ! -f "$log" ]; then
  say "No record: the program wrote no $log."
elif [ "$(($(wc -c <"$log")))" -gt "$before" ]; then
  say "This run's record ($log):"
  tail -c +"$((before + 1))" "$log" | tr -d '\r'
else
  say "This run added nothing to $log."
fi
say "M770BUpdate.exe ended with exit code $rc."
exit "$rc"
