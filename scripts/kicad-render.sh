#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# The README's picture of a KiCad board made from two scans: the two-sided
# scanner model draws a board and scans both sides, rastrace-cli turns the
# pair into a .kicad_pcb, KiCad's own plotter draws its F.Cu, B.Cu and
# Edge.Cuts (scripts/kicad-board-picture.py), Ghostscript renders each plot
# and ImageMagick colours and stacks them into a PNG 900 pixels wide of a
# 60 x 40 mm board: front copper orange over back copper blue, the outline
# yellow, the drills open. A few seconds.
#
# Usage: scripts/kicad-render.sh [OUTPUT.png]   (default docs/images/kicad-board.png;
# SEED=N for another of the model's boards, 2 by default)
# Needs the built build/rastrace-cli and build/bench/rastrace-twosided
# (BUILD=dir for another build folder), KiCad 6's pcbnew module for
# /usr/bin/python3 (Debian: kicad), Ghostscript (gs) and ImageMagick's convert.
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
for tool in gs convert; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "kicad-render.sh: $tool is not installed (Debian packages ghostscript, imagemagick)." >&2
        exit 1
    fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/rastrace-render-XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

"$build/bench/rastrace-twosided" --seed "$seed" --width-mm 60 --height-mm 40 "$work/scans" >/dev/null
# truth.txt: "colors COPPER BOARD LID"
set -- $(sed -n 's/^colors //p' "$work/scans/truth.txt")
"$build/rastrace-cli" -c "$1" -b "$2" -H "$3" -t 60 "$work/scans/top.bmp" --bottom "$work/scans/bottom.bmp" \
    "$work/board.kicad_pcb"
mkdir -p "$work/plots"
QT_QPA_PLATFORM=offscreen /usr/bin/python3 "$here/scripts/kicad-board-picture.py" "$work/board.kicad_pcb" \
    "$work/plots" 2>"$work/plot.log" || { cat "$work/plot.log" >&2; exit 1; }
for layer in B_Cu F_Cu Edge_Cuts; do
    gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pnggray -r300 -dGraphicsAlphaBits=4 \
        -sOutputFile="$work/plots/$layer.png" "$work/plots/$layer.pdf"
done
size=$(identify -format '%wx%h' "$work/plots/F_Cu.png")
# layer NAME COLOUR OPACITY: the layer's colour where its plot is dark.
layer() {
    printf '%s\n' "(" -size "$size" "xc:$2" "(" "$work/plots/$1.png" -negate ")" -alpha off \
        -compose CopyOpacity -composite -channel A -evaluate multiply "$3" +channel ")" -compose over -composite
}
mkdir -p "$(dirname "$output")"
# shellcheck disable=SC2046  # one argument a line
(IFS='
'; MAGICK_TMPDIR="$work" convert -size "$size" xc:'#1E3A28' $(layer B_Cu '#4D7FC4' 0.9) \
    $(layer F_Cu '#D8804A' 0.85) $(layer Edge_Cuts '#E8D44D' 1) \
    -fuzz 2% -trim +repage -bordercolor '#1E3A28' -border 60 -resize 900x -depth 8 "$output")
echo "kicad-render.sh: wrote $output ($(wc -c <"$output") bytes)"
