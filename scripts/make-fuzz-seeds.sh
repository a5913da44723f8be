#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Writes the fuzzers' own seed files into fuzz/corpus/ (commit them after a
# change): the BMP seeds from the tests' BMP builder (through
# rastrace-make-bmp-seeds, built in build/), settings files for fuzz_inifile
# and argument lists, separated by zero bytes, for fuzz_cli_options.
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
corpus="$repo/fuzz/corpus"
build="$repo/build"

cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target rastrace-make-bmp-seeds -j2 >/dev/null
rm -rf "$corpus/bmp" "$corpus/ini" "$corpus/cli"
"$build/fuzz/seeds/rastrace-make-bmp-seeds" "$corpus/bmp"

mkdir -p "$corpus/ini" "$corpus/cli"
ini() { printf "$2" >"$corpus/ini/$1.ini"; }
ini written      '[CONFIG]\r\nXRES=600\r\nYRES=600\r\nLAYER=0\r\nMIL=2\r\n'
ini lf_only      '[CONFIG]\nXRES=300\nYRES=1200\nLAYER=-1\nMIL=10\n'
ini mixed        '; site defaults\r\n[OTHER]\r\nXRES=9\r\n\r\n[config]\n  xres \t= " 7 "\nLAYER=0x5\r\n[CONFIG]\r\nMIL=3'
ini twin_keys    '[CONFIG]\r\nXRES=1\r\nXRES=2\r\n[CONFIG]\r\nYRES=3\r\n'
ini no_section   'XRES=1\r\nYRES=2\r\n'
ini odd_lines    '[CONFIG] trailing\r\n;XRES=1\r\nXRES\r\n=empty\r\n[\r\n]\r\nMIL=a=b\r'
ini quotes       '[CONFIG]\r\nXRES="\r\nYRES=""\r\nMIL="2\r\nLAYER=$7\r\n'

cli() { local name=$1; shift; printf '%s\0' "$@" >"$corpus/cli/$name"; }
cli convert        -c 4229316 -c 6333654 -x 150 -y 150 -w 8 board.bmp out.asc
cli long_options   --color=0xFF --xres 300 --yres=300 --width 10 --layer=6 --format asc --mirror h in.bmp -
cli joined         -c255 -x600 -lo -fpcb -mv -mh -q in.bmp out.pcb
cli list           --list-colors in.bmp
cli help           --help
cli version        --version
cli errors         -c -x --format=svg --layer 9 --mirror x --unknown -- -in.bmp
cli short_bundle   -qh -c '$FF' -m
