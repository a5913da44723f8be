#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the built package on this machine and checks it as a user would,
# then removes it again. Needs root; changes the system (an install into
# /usr, and a user "rastrace-check" made when missing), so it is not part of
# scripts/test.sh. Usage: packaging/check-install.sh [build/rastrace_<version>_amd64.deb]
#   - apt install ./<deb>; the installed rastrace-cli --version and man rastrace-cli;
#   - the installed window, started by a normal user in a virtual display and
#     closed through the window manager, exits at once (no error box waits)
#     and leaves its settings in ~/.config/rastrace/set.ini;
#   - the installed window shows English under an English locale and
#     Chinese under C (the about box's title, opened with the mouse).
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
deb="$(realpath "${1:-$(ls "$repo"/build/rastrace_*_amd64.deb | head -n1)}")"
user=rastrace-check
fail() { echo "check-install: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || fail "run as root"
for tool in xvfb-run openbox wmctrl man xdotool; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps.sh installs it)"
done

DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >/dev/null
trap 'DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq rastrace >/dev/null' EXIT
echo "installed: $(command -v rastrace) $(command -v rastrace-cli)"
echo "rastrace-cli --version: $(/usr/bin/rastrace-cli --version | head -n 1)"
MANPAGER=cat MANWIDTH=80 man rastrace-cli | grep -q -- '--list-colors' || fail "man rastrace-cli does not show the options"
echo "man rastrace-cli: shows the options"

id "$user" >/dev/null 2>&1 || useradd -m -s /bin/bash "$user"
home=$(getent passwd "$user" | cut -d: -f6)
rm -rf "$home/.config/rastrace"

# Runs inside the virtual display as the user: a window manager, the window,
# a close as the window's close button does, and the exit status.
session=$(mktemp /tmp/rastrace-check-session.XXXXXX)
trap 'rm -f "$session"; DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq rastrace >/dev/null' EXIT
cat >"$session" <<'SESSION'
openbox >/dev/null 2>&1 & wm=$!
sleep 1
rastrace >/dev/null 2>&1 & app=$!
for i in $(seq 1 240); do wmctrl -l 2>/dev/null | grep -q "Rastrace For Win" && break; sleep 0.25; done
sleep 1
wmctrl -c "Rastrace For Win"
for i in $(seq 1 40); do kill -0 $app 2>/dev/null || break; sleep 0.25; done
if kill -0 $app 2>/dev/null; then echo "still running: $(wmctrl -l)"; kill $app; fi
wait $app; echo "exit status $?"
kill $wm 2>/dev/null; true
SESSION
chmod 755 "$session"
result=$(su - "$user" -c "xvfb-run -a sh $session" 2>&1) || true
echo "window: $result"
grep -q '^exit status 0$' <<<"$result" || fail "the window did not exit cleanly when closed"
printf '[CONFIG]\r\nXRES=600\r\nYRES=600\r\nLAYER=0\r\nMIL=2\r\n' |
  cmp -s - "$home/.config/rastrace/set.ini" || fail "$home/.config/rastrace/set.ini does not hold the settings"
echo "settings: $home/.config/rastrace/set.ini written"

for case in "en_US.UTF-8|About Rastrace" "C|软件介绍"; do
  locale=${case%%|*}
  want=${case#*|}
  got=$(su - "$user" -c "xvfb-run -a sh $repo/packaging/about-title.sh /usr/bin/rastrace $locale" 2>&1 |
        grep -v '^QStandardPaths' || true)
  [ "$got" = "$want" ] || fail "under LANG=$locale the installed window's about box is titled \"$got\", not \"$want\""
  echo "window under LANG=$locale: about box \"$got\""
done
echo "check-install: passed (the package is removed again)"
