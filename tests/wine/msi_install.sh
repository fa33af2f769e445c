#!/usr/bin/env bash
# The installer under Wine: silent install, plain shortcuts, a run of the launcher
# into Documents\Data Logger, an upgrade in place, a removal that keeps the data.
#   msi_install.sh MSI WINDOWS_BUILD_DIR LINUX_BUILD_DIR   (inside tests/wine/sandbox.sh)
MSI=$1
WINDOWS_BUILD=$2
BUILD_DIR=$3
here=$(dirname "$(realpath "$0")")
source "$here/../e2e/lib.sh"
[ -n "${WINE_SANDBOX:-}" ] || skip "runs only inside tests/wine/sandbox.sh"
[ -f "$MSI" ] || skip "$MSI is missing: scripts/build-windows builds it"
[ -x "$BUILD_DIR/modsim" ] || skip "the Linux build is missing in $BUILD_DIR"
need msiinfo wixl

installed="$WINEPREFIX/drive_c/Program Files/Serial Data Logger" profile="$WINEPREFIX/drive_c/users/$(id -un)"
menu="$profile/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Serial Data Logger"
msiexec() { wine msiexec "$1" "$(winepath -w "$2")" /qn </dev/null >>"$E2E_TMP/msiexec.log" 2>&1; }
# The Apps and Features entries of this product (one paragraph each).
products() { wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null | tr -d '\r' |
  awk -v RS= 'index($0, "REG_SZ    Serial Data Logger\n")'; }

# Documents links to $HOME in this prefix: here to a private home outside the
# ANSI code page; a failed run leaves neither the programs nor the link behind.
home="$E2E_TMP/Zoë Δ" later="$E2E_TMP/later.msi" documents_target=$(readlink "$profile/Documents")
data="$home/Data Logger"
mkdir -p "$home" && ln -sfn "$home" "$profile/Documents"
trap 'msiexec /x "$MSI"; [ ! -f "$later" ] || msiexec /x "$later"
      ln -sfn "$documents_target" "$profile/Documents"; e2e_cleanup' EXIT
trap 'exit 143' TERM  # a time-out too restores the link

msiexec /i "$MSI" || fail "the silent install failed: $(cat "$E2E_TMP/msiexec.log")"
programs="LICENSE README.txt comscan.exe logger.exe serial-logger.exe "
[ "$(cd "$installed" && LC_ALL=C ls | tr '\n' ' ')" = "$programs" ] ||
  fail "installed: $(ls "$installed")"
# Apps and Features shows the icon the installer keeps.
compgen -G "$WINEPREFIX/drive_c/windows/Installer/{*}/serial_logger.ico" >/dev/null || fail "no product icon"
# An advertised shortcut's target is a feature; these name the files.
[ "$(msiinfo export "$MSI" Shortcut | awk -F'\t' 'NR > 3 { print $3 "=" $5 }' | sort | tr '\n' ' ')" = \
  "COM Port Scanner=[#comscan_exe] Serial Data Logger=[#launcher_exe] " ] || fail "the shortcuts are advertised"
for shortcut in "COM Port Scanner=comscan.exe" "Serial Data Logger=serial-logger.exe"; do
  grep -qaF "C:\\Program Files\\Serial Data Logger\\${shortcut#*=}" "$menu/${shortcut%=*}.lnk" ||
    fail "the shortcut ${shortcut%=*} does not start ${shortcut#*=}"
done

# A short run of the shortcut's target (Wine's start /wait of a shortcut returns
# at once, without the launcher's exit status, which is the logger's).
start_xvfb
start_modsim 3
LOGGER_EXE='C:\Program Files\Serial Data Logger\serial-logger.exe' start_logger
answer_run 3
sleep 2
press_key Escape
wait_logger_exit 10 || fail "the launcher ended with status $?"
[ -s "$data/DATA001.CSV" ] && [ -s "$data/BMP001.BMP" ] || fail "no data file and picture in $data: $(ls -R "$E2E_TMP")"

# A later version replaces this one: one entry, the later version.
IFS=. read -r major minor patch < <(msiinfo export "$MSI" Property | sed -n 's/^ProductVersion\t//p' | tr -d '\r')
later_version=$major.$minor.$((patch + 1))
(cd "$WINDOWS_BUILD" && "$here/../../packaging/windows/build-msi.sh" dist-stage "$later_version" \
  resources/serial-logger.ico "$later") || fail "no later installer"
msiexec /i "$later" || fail "the upgrade failed: $(cat "$E2E_TMP/msiexec.log")"
[ "$(products | grep -c 'DisplayVersion')" = 1 ] && products | grep -q "DisplayVersion *REG_SZ *$later_version" ||
  fail "after the upgrade: $(products)"

msiexec /x "$later" || fail "the silent removal failed: $(cat "$E2E_TMP/msiexec.log")"
[ ! -e "$installed" ] && [ ! -e "$menu" ] && [ -z "$(products)" ] &&
  ! wine reg query 'HKLM\Software\Serial Data Logger' >/dev/null 2>&1 ||
  fail "the removal left $(ls "$installed" "$menu")"
[ "$(LC_ALL=C ls "$data" | tr '\n' ' ')" = "BMP001.BMP DATA001.CSV " ] || fail "the data folder changed: $(ls "$data")"
echo "installed, ran the launcher, upgraded to $later_version and removed in $SECONDS s"
