#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Loads a board through KiCad's pcbnew module and checks its nets.

Usage: kicad_board_check.py BOARD ZONES NETS [--refill] [--drc REPORT] [--dpi DPI]

Exit status 0 when the board loads with ZONES zones and NETS nets (net 0
aside), every zone in a net named N<k>, every via and pad of a net in a
net that also has a zone, KiCad's own connectivity finds nothing
unconnected, every pair of items it finds connected shares a net and every
net is one connected cluster; 1 otherwise, with what failed on standard
output.

--refill  KiCad refills every zone (ZONE_FILLER); each zone's filled area
          must stay within 0.5 % plus a band half a pixel (at --dpi, 600
          by default) wide along its outline of what the file held, its
          holes must not get fewer, and connectivity must still hold.
--drc     KiCad's DRC writes REPORT; it must list no unconnected items and
          no short or clearance violation between different nets.
"""
import re
import sys

import pcbnew

# DRC classes that mean copper of two nets touches or comes too close, or
# copper of one net falls apart: these fail the board.
FAILING_DRC = {
    "unconnected_items",  # a net's copper in more than one piece
    "shorting_items",     # items of two nets touching
    "clearance",          # items of two nets closer than the clearance
    "hole_clearance",     # copper of one net too close to another's hole
    "tracks_crossing",
    "zones_intersect",    # zones of two nets overlapping
}
# Every other class is reported and not failed. Silkscreen, courtyard, text
# and footprint-library classes are cosmetic: the board has no silkscreen or
# courtyards, its footprints are holes without a library. Fabrication limits
# (via_diameter, drill_out_of_range, annular_width, hole_near_hole) compare
# the scanned board's own sizes with KiCad's default limits, which say
# nothing of whether the copper is right. zone_has_empty_net is a copper
# island that no hole reaches: a net of its own without pads by its nature.


def connected_items(connectivity, item):
    return list(connectivity.GetConnectedPads(item)) + list(connectivity.GetConnectedTracks(item))


def check_connectivity(board, failures, when):
    """Every direct connection KiCad finds joins items of one net, and each
    net's items are one cluster."""
    board.BuildConnectivity()
    connectivity = board.GetConnectivity()
    unconnected = connectivity.GetUnconnectedCount()
    if unconnected != 0:
        failures.append("%s: %d unconnected" % (when, unconnected))
    items = list(board.Zones()) + list(board.GetTracks()) + [p for f in board.GetFootprints() for p in f.Pads()]
    index = {item.m_Uuid.AsString(): i for i, item in enumerate(items)}
    parent = list(range(len(items)))

    def find(a):
        while parent[a] != a:
            parent[a] = parent[parent[a]]
            a = parent[a]
        return a

    crossed = 0
    for i, item in enumerate(items):
        if item.GetNetCode() == 0:
            continue
        for other in connected_items(connectivity, item):
            j = index.get(other.m_Uuid.AsString())
            if j is None:
                continue
            if other.GetNetCode() != item.GetNetCode():
                crossed += 1
                continue
            parent[find(i)] = find(j)
    if crossed:
        failures.append("%s: %d connections between items of different nets" % (when, crossed))
    # Zones of one net on the two layers meet only through the net's pads
    # and vias, which the connections above hold.
    clusters = {}
    for i, item in enumerate(items):
        if item.GetNetCode() != 0:
            clusters.setdefault(item.GetNetname(), set()).add(find(i))
    split = sorted(name for name, roots in clusters.items() if len(roots) > 1)
    if split:
        failures.append("%s: %d nets in more than one piece (%s)" % (when, len(split), " ".join(split[:10])))


def filled(zone):
    """Area, outline count and hole count of a zone's fill."""
    polys = pcbnew.SHAPE_POLY_SET(zone.GetFilledPolysList(zone.GetLayer()))
    # KiCad keeps a fill with its holes joined by cuts; take them apart.
    polys.Unfracture(pcbnew.SHAPE_POLY_SET.PM_FAST)
    holes = sum(polys.HoleCount(i) for i in range(polys.OutlineCount()))
    return polys.Area(), holes


def check_refill(board, dpi, failures):
    before = {z.m_Uuid.AsString(): filled(z) for z in board.Zones()}
    pcbnew.ZONE_FILLER(board).Fill(board.Zones())
    half_pixel_nm = 25.4e6 / dpi / 2
    worst, changed, total_before, total_after = 0.0, [], 0.0, 0.0
    holes_before, holes_after = 0, 0
    for zone in board.Zones():
        area, holes = before[zone.m_Uuid.AsString()]
        new_area, new_holes = filled(zone)
        outline = zone.Outline()
        length = sum(outline.COutline(i).Length() for i in range(outline.OutlineCount()))
        length += sum(outline.CHole(i, k).Length() for i in range(outline.OutlineCount())
                      for k in range(outline.HoleCount(i)))
        allowed = 0.005 * area + half_pixel_nm * length
        worst = max(worst, abs(new_area - area) / allowed if allowed > 0 else 0)
        total_before += area
        total_after += new_area
        holes_before += holes
        holes_after += new_holes
        if abs(new_area - area) > allowed or new_holes < holes:
            changed.append("%s on %s: %.4f mm2, %d holes, refilled %.4f mm2, %d holes" % (
                zone.GetNetname(), zone.GetLayerName(), area / 1e12, holes, new_area / 1e12, new_holes))
    print("refill: %.3f mm2 -> %.3f mm2, holes %d -> %d, worst change %.3f of the allowed" % (
        total_before / 1e12, total_after / 1e12, holes_before, holes_after, worst))
    if changed:
        failures.append("refill changed %d zones: %s" % (len(changed), "; ".join(changed[:5])))
    check_connectivity(board, failures, "after the refill")


DRC_ITEM = re.compile(r"^\[([a-z_]+)\]:")
DRC_NET = re.compile(r"^\s+@\(.*\): .*\[([^\]]*)\]")


def check_drc(board, report, failures):
    if not pcbnew.WriteDRCReport(board, report, pcbnew.EDA_UNITS_MILLIMETRES, True):
        failures.append("KiCad's DRC wrote no report")
        return
    violations = []  # (class, [nets])
    with open(report, encoding="utf-8") as text:
        for line in text:
            m = DRC_ITEM.match(line)
            if m:
                violations.append((m.group(1), []))
                continue
            m = DRC_NET.match(line)
            if m and violations:
                violations[-1][1].append(m.group(1))
    counts = {}
    for name, _ in violations:
        counts[name] = counts.get(name, 0) + 1
    print("drc: " + (", ".join("%s %d" % kv for kv in sorted(counts.items())) or "nothing"))
    for name, nets in violations:
        if name not in FAILING_DRC:
            continue
        # A clearance between items of one net is no short.
        if name != "unconnected_items" and len(nets) == 2 and nets[0] == nets[1]:
            continue
        failures.append("drc: %s between %s" % (name, " and ".join(nets) or "items"))


def main():
    args = sys.argv[1:]
    refill = "--refill" in args
    if refill:
        args.remove("--refill")
    report, dpi = None, 600.0
    if "--drc" in args:
        at = args.index("--drc")
        report = args[at + 1]
        del args[at:at + 2]
    if "--dpi" in args:
        at = args.index("--dpi")
        dpi = float(args[at + 1])
        del args[at:at + 2]
    if len(args) != 3:
        print(__doc__)
        return 2
    path, zones, nets = args[0], int(args[1]), int(args[2])
    board = pcbnew.LoadBoard(path)
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
    check_connectivity(board, failures, "as loaded")
    if report is not None:
        check_drc(board, report, failures)
    if refill:
        check_refill(board, dpi, failures)
    for f in failures:
        print(f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
