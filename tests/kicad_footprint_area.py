#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Loads a footprint through KiCad's pcbnew module and checks its polygons.

Usage: kicad_footprint_area.py LIBRARY_DIR NAME LAYER SHAPES DPI MASK_FILE

MASK_FILE holds the traced picture as rows of '#' (copper) and '.', top row
first. Exit status 0 when the footprint loads, has SHAPES filled polygons,
all on LAYER, whose areas add up to the copper pixels' area, and whose
polygons contain exactly the centres of the copper pixels (of every pixel
in pictures up to 10000 pixels, else of an even spread of about that many:
KiCad's point test is slow from Python); 1 otherwise.
"""
import sys

import pcbnew


def main():
    lib, name, layer = sys.argv[1], sys.argv[2], sys.argv[3]
    shapes, dpi = int(sys.argv[4]), int(sys.argv[5])
    with open(sys.argv[6]) as f:
        mask = [line.rstrip("\n") for line in f if line.strip()]
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
        total += polygon.GetPolyShape().Area()  # nm^2
    pixel_nm = 25.4e6 / dpi
    copper = sum(row.count("#") for row in mask)
    expected = copper * pixel_nm * pixel_nm
    print("polygons", len(polygons), "of", shapes, "area mm^2", total / 1e12, "of", expected / 1e12)
    if len(polygons) != shapes or abs(total - expected) > 1e-6 * max(expected, pixel_nm * pixel_nm):
        return 1
    # Pixel centres, Y negated: the picture's bottom edge is at y = 0.
    sets = [polygon.GetPolyShape() for polygon in polygons]
    height = len(mask)
    stride = max(1, (height * len(mask[0]) if mask else 0) // 10000)
    wrong = 0
    for r, row in enumerate(mask):
        y = -round((2 * (height - r) - 1) * 12700000 / dpi)
        for c, cell in enumerate(row):
            if (r * len(row) + c) % stride != r % stride:
                continue
            x = round((2 * c + 1) * 12700000 / dpi)
            inside = any(s.Contains(pcbnew.VECTOR2I(x, y)) for s in sets)
            if inside != (cell == "#"):
                wrong += 1
    print("pixel centres on the wrong side", wrong)
    return 0 if wrong == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
