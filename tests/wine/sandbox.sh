#!/usr/bin/env bash
# Runs a command with Wine made safe for these machines: inside a private mount
# namespace whose /dev has no serial devices (Wine maps the first /dev/ttyS* it
# finds to a COM port, and /dev/ttyS0 can be the system console), with a
# prepared Wine prefix and a persistent wineserver that stops afterwards.
#
#   tests/wine/sandbox.sh PREFIX_DIR COMMAND [ARG...]
#
# Inside, WINEPREFIX, WINEDEBUG and WINE_SANDBOX are set. Map pseudo-terminals
# as COM ports with tests/wine/map_ports.sh. Exits 77 (skipped) without root
# or without Wine.
set -euo pipefail

if [ "${1:-}" != "--inside" ]; then
  if [ $# -lt 2 ]; then
    echo "usage: $0 PREFIX_DIR COMMAND [ARG...]" >&2
    exit 2
  fi
  if [ "$(id -u)" -ne 0 ]; then
    echo "sandbox: needs root for a private mount namespace; skipped" >&2
    exit 77
  fi
  if ! command -v wine >/dev/null || ! command -v unshare >/dev/null; then
    echo "sandbox: wine or unshare is missing; skipped" >&2
    exit 77
  fi
  exec unshare -m --propagation private bash "$0" --inside "$@"
fi
shift
prefix=$(realpath -m "$1")
shift

# A /dev of our own: the harmless devices, the pseudo-terminals (those made
# outside stay visible), shared memory; no ttyS*, no console.
new_dev=$(mktemp -d /tmp/wine-dev.XXXXXX)
mount -t tmpfs -o mode=755 tmpfs "$new_dev"
for device in null zero full random urandom; do
  touch "$new_dev/$device"
  mount --bind "/dev/$device" "$new_dev/$device"
done
mkdir "$new_dev/pts" "$new_dev/shm"
mount --bind /dev/pts "$new_dev/pts"
mount -t tmpfs -o mode=1777 tmpfs "$new_dev/shm"
ln -s pts/ptmx "$new_dev/ptmx"
ln -s /proc/self/fd "$new_dev/fd"
ln -s /proc/self/fd/0 "$new_dev/stdin"
ln -s /proc/self/fd/1 "$new_dev/stdout"
ln -s /proc/self/fd/2 "$new_dev/stderr"
mount --move "$new_dev" /dev
rmdir "$new_dev" 2>/dev/null || true
if compgen -G '/dev/ttyS*' >/dev/null || [ -e /dev/console ]; then
  echo "sandbox: serial devices are still visible; refusing to start Wine" >&2
  exit 1
fi

export WINEPREFIX="$prefix" WINEDEBUG=-all WINEARCH=win64 WINE_SANDBOX=1
# No Wine dialogs asking to install Mono or Gecko.
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot -u >/dev/null 2>&1 </dev/null
  wineserver -w
fi
# Ports mapped by an earlier sandbox name pseudo-terminals that may now be
# somebody else's: the mapping and the links made from it go before Wine starts.
python3 "$(dirname "$(realpath "$0")")/set_ports.py" "$WINEPREFIX/system.reg"
rm -f "$WINEPREFIX"/dosdevices/com*
# Wine's desktop program lives as long as the server and keeps the display it
# started on; if that display goes (or there is none), no later program can
# open a window. So the sandbox keeps a display of its own for it; each test's
# programs show their windows on the test's own display. Wine takes the
# screen's size from the desktop's display: it is the size the tests' own
# displays have.
sandbox_xvfb=
if command -v Xvfb >/dev/null; then
  source "$(dirname "$(realpath "$0")")/../support/xvfb.sh"
  xvfb_work=$(mktemp -d /tmp/wine-display.XXXXXX)
  # WINE_SANDBOX_SCREEN (WIDTHxHEIGHT) gives that display another size.
  if start_private_xvfb "$xvfb_work" ${WINE_SANDBOX_SCREEN:-}; then
    export WINE_SANDBOX_DISPLAY=$DISPLAY
  fi
  sandbox_xvfb=$XVFB_PID
  rm -rf "$xvfb_work"
fi
export DISPLAY=${WINE_SANDBOX_DISPLAY:-${DISPLAY:-}}
# Without a persistent server every start costs seconds, and a pseudo-terminal
# opened as a port could become the server's controlling terminal.
wineserver -p >/dev/null 2>&1 </dev/null
# Wine's own background programs start with the first program and stay; they
# must not inherit a test's output pipe, or every capture would wait on them.
wine cmd /c exit 0 >/dev/null 2>&1 </dev/null
trap 'wineserver -k >/dev/null 2>&1 || true; [ -z "$sandbox_xvfb" ] || kill "$sandbox_xvfb" 2>/dev/null || true' EXIT
"$@"
