#!/bin/sh
# Rewrites the firmware of ZD-M770B drives from Linux: M770BUpdate.exe under 32-bit Wine, with
# the wnaspi32.dll beside it, over the drives Linux shows in firmware-loader mode.
#   sh m770b-update.sh [FOLDER]
# FOLDER holds Firmware.bin and receives the program's record, M770BUpdate.log (default: the
# folder of this script, which must lie beside M770BUpdate.exe and wnaspi32.dll).
# WINE names the Wine loader to use when the script does not find one by itself: a 32-bit one,
# or a 64-bit one of Wine's WoW64 build, which runs 32-bit programs.
# It runs as root (re-running itself under sudo -H) in a Wine prefix of its own, $HOME/.wine-m770b
# ($HOME/.wine-m770b-wow64 for a WoW64 Wine): root's own under sudo.
# Exit codes, told from the lines this run added to the record:
#   0  every drive ticked in the program was written and verified
#   1  the script stopped before the program ran (its message says why)
#   2  the run stopped at a drive: a drive was started and not verified (it may be half
#      written: keep its jumper on and run the update for it again), or a ticked drive was
#      never started
#   3  nothing was written: the program ended before it started a drive
#   4  the program left no record of this run: whether a drive was written is unknown
set -u

say() { printf '%s\n' "$*"; }
die() {
  printf 'm770b-update: %s\n' "$*" >&2
  exit 1
}
# $1 in single quotes for sh, each quote in it as '\''.
quoted() { printf "'%s'" "$(printf '%s' "$1" | sed "s/'/'\\\\''/g")"; }

here=$(cd "$(dirname "$0")" && pwd) || die "cannot find the folder of $0"
self="$here/$(basename "$0")"
folder=$(cd "${1:-$here}" 2>/dev/null && pwd) || die "no folder ${1:-}"
for f in M770BUpdate.exe wnaspi32.dll; do
  [ -f "$here/$f" ] || die "no $f beside this script in $here: unzip every file of the release into one folder"
done
[ -f "$folder/Firmware.bin" ] || die "no Firmware.bin in $folder: put the firmware image there"
[ -n "${DISPLAY:-}" ] || die "no display (DISPLAY is not set): run this from a terminal of your desktop"

# ---- Wine that runs 32-bit programs ----------------------------------------------------------
# The program is a 32-bit Windows program. Wine's 32-bit loader (an i386 ELF file) runs it in a
# 32-bit prefix; Wine's WoW64 build (a 64-bit loader with Wine's 32-bit Windows side,
# lib/wine/i386-windows, and no 32-bit Unix side, lib/wine/i386-unix) runs it in a 64-bit prefix.
elf() { [ "$(od -An -tx1 -N5 "$2" 2>/dev/null | tr -d ' \n')" = "7f454c46$1" ]; }
wow64() {
  real=$(readlink -f "$1") && elf 02 "$real" || return 1
  bin=$(dirname "$real")
  for lib in "$bin/../lib/wine" "$bin/../lib64/wine" "$bin/../lib/x86_64-linux-gnu/wine" "$bin"; do
    [ -d "$lib/x86_64-unix" ] && [ -d "$lib/i386-windows" ] && [ ! -d "$lib/i386-unix" ] && return 0
  done
  return 1
}
# Takes $2 as the loader when it is of kind $1 (32 or wow64) and answers.
take() {
  [ -x "$2" ] && "$2" --version >/dev/null 2>&1 || return 1
  case $1 in
    32) elf 01 "$2" || return 1; arch=win32 ;;
    *) wow64 "$2" || return 1; arch=win64 ;;
  esac
  wine=$2
}
wine="" arch=""
if [ -n "${WINE:-}" ]; then
  take 32 "$WINE" || take wow64 "$WINE"
else
  for kind in 32 wow64; do
    for w in /usr/lib/wine/wine /usr/bin/wine32 "$(command -v wine)" /opt/wine-stable/bin/wine \
      /opt/wine-staging/bin/wine /opt/wine-devel/bin/wine; do
      take "$kind" "$w" && break 2
    done
  done
fi
if [ -z "$wine" ]; then
  {
    say "m770b-update: no Wine that runs 32-bit programs${WINE:+ at $WINE}. M770BUpdate.exe is a 32-bit"
    say "Windows program and needs Wine's 32-bit loader (or a WoW64 build of Wine). Install it, then"
    say "run this again:"
    say "  Debian, Ubuntu:  sudo dpkg --add-architecture i386 && sudo apt update && sudo apt install wine32:i386"
    say "  Fedora:          sudo dnf install wine.i686"
    say "A Wine installed elsewhere: WINE=/path/to/its/wine sh $(quoted "$self")"
  } >&2
  exit 1
fi
wineserver="$(dirname "$wine")/wineserver"
[ -x "$wineserver" ] || wineserver=$(command -v wineserver) || die "no wineserver beside $wine"

# ---- The drives in firmware-loader mode ------------------------------------------------------
# The letters the program itself checks in the INQUIRY data: vendor characters 1-7 "VANDREL",
# product characters 2-8 "Program" and 10-14 "Mode1" (Linux shows the 8 vendor and 16 product
# characters as the device's vendor and model). Each loader: "H:C:T:L /dev/srN /dev/sgM", with
# "-" for a node Linux did not make.
loaders=""
for dev in /sys/class/scsi_device/*/device; do
  [ -r "$dev/model" ] || continue
  case "$(cat "$dev/vendor")" in VANDREL*) ;; *) continue ;; esac
  case "$(cat "$dev/model")" in ?Program?Mode1*) ;; *) continue ;; esac
  sr=- sg=-
  for n in "$dev"/block/sr*; do [ -e "$n" ] && sr=/dev/${n##*/}; done
  for n in "$dev"/scsi_generic/sg*; do [ -e "$n" ] && sg=/dev/${n##*/}; done
  loaders="$loaders$(basename "$(dirname "$dev")") $sr $sg
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
printf '%s\n' "$loaders" | awk '$2 != "-" { found = 1 } END { exit !found }' ||
  die "no loader has a /dev/srN (Linux's CD driver is not loaded): sudo modprobe sr_mod, then run this again"

# ---- Root ------------------------------------------------------------------------------------
# A message for a user who may have no terminal (the script started from a file manager): also
# in a window, with the first of these the desktop has.
tell() {
  printf 'm770b-update: %s\n' "$1" >&2
  if command -v zenity >/dev/null 2>&1; then
    zenity --error --no-markup --title="ZD-M770B firmware update" --text="$1" 2>/dev/null
  elif command -v kdialog >/dev/null 2>&1; then
    kdialog --title "ZD-M770B firmware update" --error "$1" 2>/dev/null
  elif command -v xmessage >/dev/null 2>&1; then
    xmessage -center "$1" 2>/dev/null
  fi
}
if [ "$(id -u)" -ne 0 ]; then
  say "The update runs as root: Linux lets only a process with CAP_SYS_RAWIO send the drive's"
  say "vendor commands (erase, write, checksum); without it the program can only show"
  say "\"Device access security violation.\""
  again="sh $(quoted "$self") $(quoted "$folder")"
  command -v sudo >/dev/null 2>&1 || die "run it as root: su -c $(quoted "$again")"
  set -- -H env DISPLAY="${DISPLAY:-}" XAUTHORITY="${XAUTHORITY:-$HOME/.Xauthority}" \
    WINE="${WINE:-}" sh "$self" "$folder"
  # sudo asks for a password on the terminal: where there is none, only a sudo that needs none
  # (or one that asks in a window of its own, SUDO_ASKPASS) can go on.
  if sudo -n true 2>/dev/null; then
    say "Running it again under sudo."
    exec sudo -n "$@"
  elif [ -n "${SUDO_ASKPASS:-}" ]; then
    say "Running it again under sudo (it asks for your password in a window)."
    exec sudo -A "$@"
  elif (: </dev/tty) 2>/dev/null; then
    say "Running it again under sudo (it asks for your password)."
    exec sudo "$@"
  fi
  tell "sudo needs your password, and there is no terminal here to ask for it (was this started from a file manager?). Open a terminal of your desktop and run: $again"
  exit 1
fi

# ---- The Wine prefix, its drive letters ------------------------------------------------------
prefix="$HOME/.wine-m770b"
[ "$arch" = win32 ] || prefix="$HOME/.wine-m770b-wow64"
export WINEPREFIX="$prefix" WINEDEBUG="${WINEDEBUG:--all}"
say "Wine prefix: $prefix"
if [ ! -f "$prefix/system.reg" ]; then
  say "Making it (once; this takes a minute)."
  # No Mono, Gecko or menu entries: the program needs none of them.
  WINEARCH=$arch WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" \
    "$wine" wineboot --init >/dev/null 2>&1
  "$wineserver" -w
  [ -f "$prefix/system.reg" ] || die "Wine could not make the prefix $prefix"
fi
# Wine's mount manager takes its drive letters when Wine starts in the prefix: none may run now.
if command -v timeout >/dev/null 2>&1 && ! timeout 2 "$wineserver" -w; then
  die "Wine is still running in $prefix. If an update is open, let it end (never end one that is
writing). If none is, end what is left of Wine there, then run this again:
  sudo env WINEPREFIX=$(quoted "$prefix") $(quoted "$wineserver") -k"
fi
# One CD-ROM letter from D: on for each loader with a /dev/srN: its dosdevices links (the folder
# it stands for, the device behind it) and its type in HKLM\Software\Wine\Drives. Mapped again
# each run, as /dev/srN can change when the drives are powered off and on.
letters="d e f g h i j k l m n o p q r s t u v w x y"
for l in $letters; do rm -f "$prefix/dosdevices/$l:" "$prefix/dosdevices/$l::"; done
# The program writes the loaders of the first bus (H:C, in this order) that has one at SCSI
# ID 0-6, LUN 0, that is the first it can see through a letter.
first=$(printf '%s\n' "$loaders" | awk -F'[: ]' '$5 != "-" && $3 <= 6 && $4 == 0 { print $1 ":" $2; exit }')
say "Drives in firmware-loader mode (H:C:T:L, the node it is written through, its letter in Wine):"
# shellcheck disable=SC2086 # one positional parameter per letter
set -- $letters
missing="" nodes=""
while read -r hctl sr sg; do
  bus=${hctl%:*:*}
  target=${hctl#*:*:}
  if [ "$sr" = - ]; then
    say "  $hctl  (no /dev/srN)  $sg  not offered: Linux's CD driver did not take it"
    continue
  fi
  l=$1
  shift
  mkdir -p "$prefix/drive_$l"
  ln -s "../drive_$l" "$prefix/dosdevices/$l:"
  ln -s "$sr" "$prefix/dosdevices/$l::"
  grep -qx "\"$l:\"=\"cdrom\"" "$prefix/system.reg" || missing="$missing $l"
  nodes="$nodes ${sr#/dev/}"
  note=""
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
# A terminal closed during the write must not end it: the hang-up signal is ignored by this
# script, and again by the shell that starts Wine, since systemd-inhibit starts its command with
# every signal reset to its default (and sends it SIGTERM when it dies itself).
trap '' HUP
set -- sh -c 'trap "" HUP; exec "$@"' m770b-update "$wine" "$here/M770BUpdate.exe"
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
# Linux's CD driver asks each removable drive every events_poll_msecs whether a disc came or
# went (TEST UNIT READY, GET EVENT STATUS NOTIFICATION; -1 there: the block layer's default,
# which systemd's udev rules set to 2000 ms). A loader must hear nothing but the program between
# its erase and its checksum read: polling is off for each loader until the program has ended,
# and the earlier value is put back, also when this script is interrupted. Ctrl-C, Ctrl-\ and
# SIGTERM do not end the script before the program: it waits for the program, then tells how
# the run ended.
polled=""
polling_back() {
  for p in $polled; do echo "${p#*=}" >"/sys/block/${p%%=*}/events_poll_msecs"; done
  polled=""
}
trap polling_back EXIT
trap : INT QUIT TERM
names=""
for n in $nodes; do
  f=/sys/block/$n/events_poll_msecs
  [ -w "$f" ] && v=$(cat "$f") && echo 0 2>/dev/null >"$f" && polled="$polled $n=$v" names="$names $n"
done
[ -z "$names" ] || say "Linux's media polling is off while it runs for:$names."
log="$folder/M770BUpdate.log"
before=0
[ -f "$log" ] && before=$(($(wc -c <"$log")))
say "Starting M770BUpdate.exe in $folder"
(cd "$folder" && WINEDLLOVERRIDES=wnaspi32=n exec "$@")
rc=$?
polling_back

# ---- The outcome -----------------------------------------------------------------------------
# This run's lines of the record, each without its stamp ("2026-12-08 14:03:12.345    1234 ms  ").
# The program writes how the run ended as its last line before the box that ends it; a record
# whose last line is anything else was cut off.
added=""
[ -f "$log" ] && added=$(tail -c +"$((before + 1))" "$log" | tr -d '\r')
lines=$(printf '%s\n' "$added" | sed -n 's/^[0-9]\{4\}-[0-9][0-9]-[0-9][0-9] [0-9:.]* *[0-9]* ms  //p')
if [ -n "$lines" ]; then
  say "This run's record ($log):"
  printf '%s\n' "$added"
elif [ -f "$log" ]; then
  say "This run added nothing to $log."
else
  say "No record: the program wrote no $log."
fi
say "M770BUpdate.exe ended with exit code $rc."
last=$(printf '%s\n' "$lines" | tail -n 1)
if [ -z "$lines" ]; then
  say "Whether a drive was written is unknown: keep every jumper on, and run this again."
  exit 4
elif [ "${last#Run ended: every ticked drive verified: }" != "$last" ]; then
  say "Every ticked drive was written and verified: power them down and remove their jumpers."
  exit 0
elif printf '%s\n' "$lines" | grep -q '^Drive ".*": started$'; then
  say "The run stopped at a drive: a drive not verified may be half written. Keep its jumper on,"
  say "power it off and on, and run this again for it (the record above names it)."
  exit 2
fi
say "Nothing was written to any drive."
exit 3
