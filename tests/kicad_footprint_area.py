#!/usr/bin/env python3
"""Loads a footprint through KiCad's pcbnew module and checks its polygons.

Usage: kicad_footprint_area.py LIBRARY_DIR NAME LAYER SHAPES AREA_MM2

Exit status 0 when the footprint loads, has SHAPES filled polygons, all on
LAYER, whose areas add up to AREA_MM2 (within a millionth); 1 otherwise.
"""
import sys

import pcbnew


def main():
    lib, name, layer, shapes, area = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), float(sys.argv[5])
    footprint = pcbnew.FootprintLoad(lib, name)
    if footprint is None:
        print("footprint did not load")
        return 1
    polygons = [item for item in footprint.GraphicalItems()
                if item.GetClass() == "MGRAPHIC" and item.GetShape() == pcbnew.SHAPE_T_POLY]
    total = 0.0
    for polygon in polygons:
        if polygon.GetLayerName() != layer:
            print("polygon on", polygon.GetLayerName())
            return 1
        total += polygon.GetPolyShape().Area() / 1e12  # nm^2 to mm^2
    print("polygons", len(polygons), "area", total, "expected", shapes, area)
    if len(polygons) != shapes or abs(total - area) > 1e-6 * max(1.0, area):
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
