#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Loads a board through KiCad's pcbnew module and checks its nets.

Usage: kicad_board_check.py BOARD ZONES NETS

Exit status 0 when the board loads with ZONES zones and NETS nets (net 0
aside), every zone in a net named N<k>, every via and pad of a net in a
net that also has a zone, and KiCad's own connectivity finds nothing
unconnected; 1 otherwise, with what failed on standard output.
"""
import sys

import pcbnew


def main():
    path, zones, nets = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    board = pcbnew.LoadBoard(path)
    board.BuildConnectivity()
    failures = []
    if len(board.Zones()) != zones:
        failures.append("zones: %d, not %d" % (len(board.Zones()), zones))
    if board.GetNetCount() - 1 != nets:
        failures.append("nets: %d, not %d" % (board.GetNetCount() - 1, nets))
    zoned = set()
    for zone in board.Zones():
        name = zone.GetNetname()
        if not name.startswith("N"):
            failures.append("a zone in net '%s'" % name)
        zoned.add(name)
    for item in list(board.GetTracks()) + [p for f in board.GetFootprints() for p in f.Pads()]:
        name = item.GetNetname()
        if name and name not in zoned:
            failures.append("an item in net %s without copper" % name)
    unconnected = board.GetConnectivity().GetUnconnectedCount()
    if unconnected != 0:
        failures.append("%d unconnected" % unconnected)
    for f in failures:
        print(f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
