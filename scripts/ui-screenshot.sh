#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Takes docs/screenshot.png: the main window under a virtual X server with
# the sample scan open, its two copper colours picked into the colour list
# and the PADS (ASC) format chosen; and docs/overlay.png: a noisy scan of a
# generated board with copper and background picked, a tolerance and a
# speckle size set and the match overlay on; docs/board-align.png and
# docs/board-nets.png: a two-sided pair from the scanner model aligned, and
# its net view with a net picked. The -en files are the same in English.
#
# With a folder as the second argument, it also takes every dialog of the
# window in both languages into folder/zh and folder/en (main window, about
# box, open and save dialogs, notices and the error box), for checking the
# layout by eye.
#
# Usage: scripts/ui-screenshot.sh [build-dir [dialog-folder]]     (default: build)
# Needs: xvfb (xvfb-run), a build with RASTRACE_BUILD_UI=ON.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build"}
case $build in /*) ;; *) build="$root/$build" ;; esac

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -DRASTRACE_BUILD_BENCH=OFF
fi
cmake --build "$build" --target rastrace-screenshot -j2

picture="$root/samples/board.bmp"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ ! -f "$picture" ]; then
    # No sample scan in this checkout: draw a stand-in board.
    picture="$work/board.bmp"
    convert -size 600x400 xc:'#2e5424' \
        -fill '#c48840' -draw 'rectangle 40,40 560,52' -draw 'rectangle 100,300 500,312' \
        -draw 'circle 200,200 220,220' -fill '#d6a460' -draw 'rectangle 300,80 310,360' \
        -type TrueColor "BMP3:$picture"
fi

shoot() {
    xvfb-run -a -s "-screen 0 1024x768x24" "$build/ui/rastrace-screenshot" "$@"
}

mkdir -p "$root/docs"
for language in zh en; do
    suffix=""
    [ "$language" = zh ] || suffix="-$language"
    shoot --language "$language" "$picture" "$root/docs/screenshot$suffix.png"
    echo "wrote $root/docs/screenshot$suffix.png"
    shoot --language "$language" --overlay "$root/docs/overlay$suffix.png"
    echo "wrote $root/docs/overlay$suffix.png"
    # The whole board: the alignment view and the net view, in 256 colours.
    shoot --language "$language" --board "$work/align.png" "$work/nets.png"
    convert "$work/align.png" -colors 255 "PNG8:$root/docs/board-align$suffix.png"
    convert "$work/nets.png" -colors 255 "PNG8:$root/docs/board-nets$suffix.png"
    echo "wrote $root/docs/board-align$suffix.png and $root/docs/board-nets$suffix.png"
done

if [ $# -ge 2 ]; then
    for language in zh en; do
        mkdir -p "$2/$language"
        shoot --language "$language" --tour "$picture" "$2/$language"
    done
fi
