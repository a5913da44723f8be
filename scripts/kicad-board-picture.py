#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Plots a board's copper and outline with KiCad's own plotter, a PDF a layer.

Usage: kicad-board-picture.py BOARD FOLDER

Needs KiCad 6's pcbnew module (Debian: kicad; run with the system's
/usr/bin/python3). KiCad plots B.Cu, F.Cu and Edge.Cuts one by one, in
black on white with the drills open (a script has no colour theme), into
FOLDER/B_Cu.pdf, FOLDER/F_Cu.pdf and FOLDER/Edge_Cuts.pdf, all on the same
page; scripts/kicad-render.sh colours and stacks them into the README's picture.
"""
import os
import sys

import pcbnew

LAYERS = ((pcbnew.B_Cu, "B_Cu"), (pcbnew.F_Cu, "F_Cu"), (pcbnew.Edge_Cuts, "Edge_Cuts"))


def main():
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    path, folder = sys.argv[1], os.path.abspath(sys.argv[2])
    board = pcbnew.LoadBoard(path)
    plotter = pcbnew.PLOT_CONTROLLER(board)
    options = plotter.GetPlotOptions()
    # KiCad would take a relative folder from the board's own folder.
    options.SetOutputDirectory(folder)
    options.SetPlotFrameRef(False)
    options.SetMirror(False)
    options.SetAutoScale(False)
    options.SetScale(1)
    # Pads and vias with their drills open.
    options.SetDrillMarksType(pcbnew.PCB_PLOT_PARAMS.FULL_DRILL_SHAPE)
    stem = os.path.splitext(os.path.basename(path))[0]
    for layer, suffix in LAYERS:
        plotter.SetLayer(layer)
        plotter.OpenPlotfile(suffix, pcbnew.PLOT_FORMAT_PDF, suffix)
        plotter.PlotLayer()
        plotter.ClosePlot()
        plotted = os.path.join(folder, "%s-%s.pdf" % (stem, suffix))
        if not os.path.exists(plotted):
            print("KiCad wrote no plot of %s" % suffix, file=sys.stderr)
            return 1
        os.replace(plotted, os.path.join(folder, suffix + ".pdf"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
