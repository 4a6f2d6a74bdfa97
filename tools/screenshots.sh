#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Pictures of the desktop program's windows, one PNG per tab plus the About box and the help,
# and the pages after an operation on a 1.44M diskette file made by mkfs.fat and filled by
# mcopy, taken under a virtual X server from an existing build.
#   tools/screenshots.sh BUILD-FOLDER [OUTPUT-FOLDER]   (docs/ by default)
set -eu
if [ $# -lt 1 ] || [ $# -gt 2 ]; then
    echo "Usage: $0 BUILD-FOLDER [OUTPUT-FOLDER]" >&2
    exit 2
fi
driver="$1/tools/vokta-screenshots"
output="${2:-$(dirname "$0")/../docs}"
if [ ! -x "$driver" ]; then
    echo "$0: $driver is missing: build the target vokta-screenshots first" >&2
    exit 1
fi
command -v xvfb-run >/dev/null || { echo "$0: xvfb-run is missing (Debian package xvfb)" >&2; exit 1; }
command -v mkfs.fat >/dev/null || { echo "$0: mkfs.fat is missing (Debian package dosfstools)" >&2; exit 1; }
command -v mcopy >/dev/null || { echo "$0: mcopy is missing (Debian package mtools)" >&2; exit 1; }
# Start-up writes its ".dim" association and the default diskette file into the data folder:
# a temporary one, so that the pictures leave nothing behind.
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$output"
diskette="$scratch/a.img"
mkfs.fat -C -n VOKTA -i 1D0C0144 "$diskette" 1440 >/dev/null
mcopy -i "$diskette" "$(dirname "$0")/../README.md" ::README.TXT
XDG_DATA_HOME="$scratch/data" XDG_CONFIG_HOME="$scratch/config" \
    xvfb-run -a -s "-screen 0 1280x1024x24" "$driver" "$output" "$diskette"
