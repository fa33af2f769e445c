#!/usr/bin/env bash
# The package as a user meets it: installed with apt-get, `serial-logger --demo`
# started by an ordinary user under a private Xvfb, a short run typed in and
# ended with ESC, the files found in that user's data folder, then the package
# purged: nothing of it may be left but the data folder, and no simulator may
# outlive the demo. Needs root (it installs and adds a user); skipped without.
#   install_demo.sh PACKAGE.deb
set -Eeuo pipefail
package=$(realpath "$1")
BUILD_DIR=unused
source "$(dirname "$0")/../e2e/lib.sh"
source "$(dirname "$0")/../e2e/headless.sh"
[ "$(id -u)" = 0 ] || skip "installing a package needs root"
! dpkg -s serial-logger >/dev/null 2>&1 || skip "serial-logger is installed already; this test would remove it"

user=serial-logger-test
userdel -r "$user" >/dev/null 2>&1 || true
useradd -m -s /bin/bash "$user"
home=$(getent passwd "$user" | cut -d: -f6)
finish() {
  status=$?
  e2e_cleanup
  DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq serial-logger >/dev/null 2>&1 || true
  userdel -r -f "$user" >/dev/null 2>&1 || true
  exit $status
}
trap finish EXIT

# What the package holds, its own folders included.
dpkg-deb -c "$package" | awk '{ sub(/^\./, "", $6); print $6 }' | sed 's|/$||' | grep -v '^$' >"$E2E_TMP/contents"
export DEBIAN_FRONTEND=noninteractive
# CI's container runs no udev: the maintainer scripts must pass over it quietly.
apt-get install -y -qq "$package" >"$E2E_TMP/apt.log" 2>&1 || fail "apt-get install: $(tail -n 5 "$E2E_TMP/apt.log")"
# udev 252 has no verify: a simulated event on a device without a node reads
# every rules file and names each faulty line.
rules=/usr/lib/udev/rules.d/60-serial-logger.rules
udevadm test /sys/devices/system/cpu/cpu0 >"$E2E_TMP/udev.log" 2>&1 || true
grep -q "Reading rules file: $rules" "$E2E_TMP/udev.log" || fail "udev did not read $rules"
! grep "^$rules" "$E2E_TMP/udev.log" || fail "udev finds fault with $rules"
entry=$(desktop-file-validate /usr/share/applications/serial-logger.desktop 2>&1) && [ -z "$entry" ] ||
  fail "desktop-file-validate: $entry"

# A desktop's documents folder, as xdg-user-dirs names it.
runuser -u "$user" -- sh -c 'mkdir -p ~/.config && echo "XDG_DOCUMENTS_DIR=\"\$HOME/Documents\"" >~/.config/user-dirs.dirs'
data="$home/Documents/Data Logger"

start_xvfb
mkdir -p "$E2E_TMP/tmp"
chmod 0777 "$E2E_TMP" "$E2E_TMP/tmp"
# A desktop session has its session bus; on this bare X server the D-Bus library
# would start one for SDL's look at the screen saver, which outlives the demo.
runuser -u "$user" -- env DISPLAY="$DISPLAY" TMPDIR="$E2E_TMP/tmp" DBUS_SESSION_BUS_ADDRESS=disabled: \
  serial-logger --demo >"$E2E_TMP/demo.out" 2>&1 &
LOGGER_PID=$!
E2E_PIDS+=("$LOGGER_PID")
wait_for 30 xdotool search --name '^logger$' || fail "no logger window: $(cat "$E2E_TMP/demo.out")"
LOGGER_WINDOW=$(xdotool search --name '^logger$' | head -1)
class=$(sed -n 's/^StartupWMClass=//p' /usr/share/applications/serial-logger.desktop)
[[ "$(xprop -id "$LOGGER_WINDOW" WM_CLASS)" == *", \"$class\"" ]] || fail "the window's class is not the menu entry's $class"
answer_run 1
wait_rows "$data/DATA001.CSV" 20 30
press_key Escape
wait_logger_exit 15 || fail "serial-logger --demo ended with status $?: $(cat "$E2E_TMP/demo.out")"

for file in DATA001.CSV BMP001.BMP; do
  [ -s "$data/$file" ] || fail "no $file in $data: $(cat "$E2E_TMP/demo.out")"
  [ "$(stat -c %U "$data/$file")" = "$user" ] || fail "$file is not the user's"
done
[ -z "$(find /proc -maxdepth 1 -name '[0-9]*' -user "$user")" ] || fail "a process of the demo (its simulator?) outlived it"
[ -z "$(ls -A "$E2E_TMP/tmp")" ] || fail "the demo left $(ls "$E2E_TMP/tmp") behind"

# Without a window, answered on standard input: a missing port ends the run at once.
mkdir -p "$E2E_TMP/no-ports"
printf '3\n' | runuser -u "$user" -- env LOGGER_PORTS="$E2E_TMP/no-ports" serial-logger --headless >"$E2E_TMP/headless.out" 2>&1
grep -q 'SERIAL PORT IS NOT PRESENT' "$E2E_TMP/headless.out" && [ -s "$data/BMP000.BMP" ] ||
  fail "serial-logger --headless: $(cat "$E2E_TMP/headless.out")"

apt-get purge -y -qq serial-logger >"$E2E_TMP/apt.log" 2>&1 || fail "apt-get purge: $(tail -n 5 "$E2E_TMP/apt.log")"
! dpkg -s serial-logger >/dev/null 2>&1 || fail "serial-logger is still known to dpkg"
left=()
while read -r path; do
  if [ -d "$path" ]; then
    # The shared folders (/usr/bin, the icon theme's) are other packages' too.
    [[ "$path" != *serial-logger* ]] || left+=("$path")
  elif [ -e "$path" ] || [ -L "$path" ]; then
    left+=("$path")
  fi
done <"$E2E_TMP/contents"
[ ${#left[@]} = 0 ] || fail "left after purge: ${left[*]}"
[ -s "$data/DATA001.CSV" ] || fail "the purge took the user's data"
echo "installed, demo run into $data, purged clean"
