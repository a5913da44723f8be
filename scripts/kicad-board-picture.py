#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Plots a board's copper and outline with KiCad's own plotter, as one SVG.

Usage: kicad-board-picture.py BOARD OUTPUT.svg

Needs KiCad 6's pcbnew module (Debian: kicad; run with the system's
/usr/bin/python3). KiCad plots F.Cu, B.Cu and Edge.Cuts one by one (in
black: a script has no colour theme); each plot is given its layer's colour
and they are stacked, the back copper under the front, into OUTPUT.svg.
scripts/kicad-render.sh turns it into the README's picture.
"""
import os
import sys
import tempfile

import pcbnew

# Layer, file suffix KiCad gives its plot, colour, opacity.
LAYERS = (
    (pcbnew.B_Cu, "B_Cu", "#4D7FC4", 0.9),
    (pcbnew.F_Cu, "F_Cu", "#D8804A", 0.8),
    (pcbnew.Edge_Cuts, "Edge_Cuts", "#E8D44D", 1.0),
)


def main():
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    path, output = sys.argv[1], sys.argv[2]
    board = pcbnew.LoadBoard(path)
    with tempfile.TemporaryDirectory() as work:
        plotter = pcbnew.PLOT_CONTROLLER(board)
        options = plotter.GetPlotOptions()
        # KiCad would take a relative folder from the board's own folder.
        options.SetOutputDirectory(work)
        options.SetPlotFrameRef(False)
        options.SetMirror(False)
        options.SetAutoScale(False)
        options.SetScale(1)
        # Pads and vias with their drills open.
        options.SetDrillMarksType(pcbnew.PCB_PLOT_PARAMS.FULL_DRILL_SHAPE)
        head, bodies = None, []
        for layer, suffix, colour, opacity in LAYERS:
            plotter.SetLayer(layer)
            plotter.OpenPlotfile(suffix, pcbnew.PLOT_FORMAT_SVG, suffix)
            plotter.PlotLayer()
            plotter.ClosePlot()
            name = os.path.splitext(os.path.basename(path))[0] + "-" + suffix + ".svg"
            try:
                with open(os.path.join(work, name), encoding="utf-8") as svg:
                    text = svg.read()
            except OSError as error:
                print("KiCad wrote no plot of %s: %s" % (suffix, error), file=sys.stderr)
                return 1
            # Everything after the description is the layer's drawing; the
            # drills stay open in the background's colour.
            start = text.index("</desc>") + len("</desc>")
            end = text.rindex("</svg>")
            if head is None:
                head = text[:start]
            body = text[start:end].replace("#000000", colour).replace("fill-opacity:1.0;", "fill-opacity:%g;" % opacity)
            bodies.append(body.replace("#FFFFFF", "#1E3A28"))
    with open(output, "w", encoding="utf-8") as svg:
        svg.write(head + "".join(bodies) + "</svg>\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
