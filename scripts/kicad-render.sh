#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# The README's picture of a KiCad board made from two scans: the two-sided
# scanner model draws a board and scans both sides, rastrace-cli turns the
# pair into a .kicad_pcb, KiCad's own plotter draws its F.Cu, B.Cu and
# Edge.Cuts (scripts/kicad-board-picture.py) and ImageMagick makes a PNG
# 900 pixels wide of a 60 x 40 mm board.
#
# Usage: scripts/kicad-render.sh [OUTPUT.png]   (default docs/images/kicad-board.png;
# SEED=N for another of the model's boards, 2 by default)
# Needs the built build/rastrace-cli and build/bench/rastrace-twosided
# (BUILD=dir for another build folder), KiCad 6's pcbnew module for
# /usr/bin/python3 (Debian: kicad) and ImageMagick's convert.
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$here/build}
output=${1:-$here/docs/images/kicad-board.png}
seed=${SEED:-2}

for tool in "$build/rastrace-cli" "$build/bench/rastrace-twosided"; do
    if [ ! -x "$tool" ]; then
        echo "kicad-render.sh: $tool is missing; build it first (cmake --build build --target rastrace-cli rastrace-twosided)." >&2
        exit 1
    fi
done
if ! /usr/bin/python3 -c 'import pcbnew' 2>/dev/null; then
    echo "kicad-render.sh: KiCad's pcbnew module is not installed for /usr/bin/python3 (Debian package kicad)." >&2
    exit 1
fi
if ! command -v convert >/dev/null 2>&1; then
    echo "kicad-render.sh: ImageMagick's convert is not installed (Debian package imagemagick)." >&2
    exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/rastrace-render-XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

"$build/bench/rastrace-twosided" --seed "$seed" --width-mm 60 --height-mm 40 "$work/scans" >/dev/null
# truth.txt: "colors COPPER BOARD LID"
set -- $(sed -n 's/^colors //p' "$work/scans/truth.txt")
"$build/rastrace-cli" -c "$1" -b "$2" -H "$3" -t 60 "$work/scans/top.bmp" --bottom "$work/scans/bottom.bmp" \
    "$work/board.kicad_pcb"
QT_QPA_PLATFORM=offscreen /usr/bin/python3 "$here/scripts/kicad-board-picture.py" "$work/board.kicad_pcb" \
    "$work/board.svg" 2>"$work/plot.log" || { cat "$work/plot.log" >&2; exit 1; }
mkdir -p "$(dirname "$output")"
# ImageMagick's own SVG renderer takes minutes for a plot this dense (all
# the zones' staircase outlines), more than that above 150 dpi: the plot is
# rendered at 150 dpi and scaled up.
convert -density 150 -background '#1E3A28' -flatten "$work/board.svg" -trim +repage \
    -bordercolor '#1E3A28' -border 20 -resize 900x -depth 8 "$output"
echo "kicad-render.sh: wrote $output ($(wc -c <"$output") bytes)"
