#!/usr/bin/env bash
# Builds the Windows installer from staged files with wixl.
#   build-msi.sh STAGE_DIR VERSION ICON OUTPUT.msi
# STAGE_DIR holds serial-logger.exe, logger.exe, comscan.exe, README.txt and
# LICENSE. LOGGER_PUBLISHER names the publisher Apps and Features shows.
set -euo pipefail
if [ $# -ne 4 ]; then
  echo "usage: $0 STAGE_DIR VERSION ICON OUTPUT.msi" >&2
  exit 2
fi
source=$(realpath "$(dirname "$0")/serial-logger.wxs")
output=$(realpath -m "$4")
# wixl finds the files it packs only by paths relative to where it runs.
icon=$(realpath --relative-to="$1" "$3")
# A placeholder until the programs are published under a real name.
publisher=${LOGGER_PUBLISHER:-Serial Data Logger developers}
cd "$1"
wixl -a x64 -D "Version=$2" -D "Publisher=$publisher" -D "IconFile=$icon" -o "$output" "$source"
