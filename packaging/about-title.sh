#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Prints the title of the about box of the window program, started under a
# locale, as a user would open it: the window's About button pressed with
# the mouse. Runs inside an X display (xvfb-run); needs xdotool.
# Usage: packaging/about-title.sh <rastrace> <LANG value>
#   packaging/about-title.sh /usr/bin/rastrace en_US.UTF-8    -> About Rastrace
#   packaging/about-title.sh /usr/bin/rastrace C              -> 软件介绍
set -u
program=$1
locale=$2
env -u LC_ALL -u LC_MESSAGES LANG="$locale" "$program" >/dev/null 2>&1 &
app=$!
trap 'kill $app 2>/dev/null; wait $app 2>/dev/null' EXIT

# xdotool matches names without regard to case, and Qt's hidden leader
# window is named "RASTRACE FOR WIN": the shown window with this exact name.
# A first start may build the user's font cache: up to a minute.
window=""
for _ in $(seq 1 240); do
    for shown in $(xdotool search --onlyvisible --name '^Rastrace For Win$' 2>/dev/null); do
        [ "$(xdotool getwindowname "$shown" 2>/dev/null)" = "Rastrace For Win" ] && window=$shown
    done
    [ -n "$window" ] && break
    sleep 0.25
done
[ -n "$window" ] || { echo "about-title: the window did not appear" >&2; exit 1; }
sleep 1
# The About button: the toolbar's last button, 447,29 in the window's client area.
xdotool mousemove --window "$window" 447 29 click 1
for _ in $(seq 1 40); do
    for shown in $(xdotool search --onlyvisible --name . 2>/dev/null); do
        [ "$shown" = "$window" ] && continue
        title=$(xdotool getwindowname "$shown" 2>/dev/null)
        if [ -n "$title" ] && [ "$title" != "Rastrace For Win" ]; then
            echo "$title"
            exit 0
        fi
    done
    sleep 0.25
done
echo "about-title: no about box appeared" >&2
exit 1
