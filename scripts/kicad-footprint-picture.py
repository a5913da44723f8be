#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Plots the copper of a footprint with KiCad's own plotter, as an SVG.

Usage: kicad-footprint-picture.py LIBRARY_DIR NAME OUTPUT_DIR

Needs KiCad 6's pcbnew module (Debian: kicad; run with the system's
/usr/bin/python3). The footprint is placed on an empty board and its front
copper is plotted to OUTPUT_DIR/-copper.svg. The README's picture was made
from the sample scan's footprint (both copper colours at 150 dpi, written as
lib.pretty/board.kicad_mod) with:

    scripts/kicad-footprint-picture.py lib.pretty board /tmp/plot
    sed -i 's/#000000/#B87333/g' /tmp/plot/-copper.svg
    convert -density 150 -background '#1E3A28' -flatten /tmp/plot/-copper.svg \\
        -trim +repage -bordercolor '#1E3A28' -border 20 -depth 8 docs/kicad-footprint.png
"""
import sys

import pcbnew


def main():
    lib, name, out = sys.argv[1], sys.argv[2], sys.argv[3]
    board = pcbnew.BOARD()
    footprint = pcbnew.FootprintLoad(lib, name)
    if footprint is None:
        print("footprint did not load", file=sys.stderr)
        return 1
    # Inside the page: the footprint's origin is the picture's bottom-left corner.
    footprint.SetPosition(pcbnew.wxPointMM(20, 90))
    board.Add(footprint)
    plotter = pcbnew.PLOT_CONTROLLER(board)
    options = plotter.GetPlotOptions()
    options.SetOutputDirectory(out)
    options.SetPlotFrameRef(False)
    options.SetMirror(False)
    options.SetAutoScale(False)
    options.SetScale(1)
    plotter.SetColorMode(True)
    plotter.SetLayer(pcbnew.F_Cu)
    plotter.OpenPlotfile("copper", pcbnew.PLOT_FORMAT_SVG, "copper")
    plotter.PlotLayer()
    plotter.ClosePlot()
    return 0


if __name__ == "__main__":
    sys.exit(main())
