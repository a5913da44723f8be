#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package from a configured and built build folder (the
# first argument, default build/) and checks it: the file name, the files it
# must hold, its dependencies, the packed rastrace-cli and its manual page,
# the packed window's language (English under an English locale, Chinese
# under C, in a virtual display), and lintian, which must report neither errors nor warnings
# (its notes are listed).
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:-$repo/build}" && pwd)"
fail() { echo "test-package: $*" >&2; exit 1; }

version=$(sed -n 's/^project(Rastrace VERSION \([0-9.]*\) .*/\1/p' "$repo/CMakeLists.txt")
[ -n "$version" ] || fail "no project version in CMakeLists.txt"
deb="$build/rastrace_${version}_amd64.deb"

rm -f "$build"/rastrace_*.deb
(cd "$build" && cpack -G DEB >cpack.log 2>&1) || { cat "$build/cpack.log" >&2; fail "cpack -G DEB failed"; }
[ -f "$deb" ] || fail "cpack made no $(basename "$deb"): $(ls "$build"/*.deb 2>/dev/null)"
echo "Package: $(basename "$deb"), $(stat -c %s "$deb") bytes"

contents=$(dpkg-deb --contents "$deb" | awk '{print $NF}')
for f in ./usr/bin/rastrace ./usr/bin/rastrace-cli \
         ./usr/share/applications/rastrace.desktop \
         ./usr/share/icons/hicolor/scalable/apps/rastrace.svg \
         ./usr/share/man/man1/rastrace-cli.1.gz ./usr/share/man/man1/rastrace.1.gz \
         ./usr/share/doc/rastrace/copyright ./usr/share/doc/rastrace/changelog.gz \
         ./usr/share/rastrace/translations/rastrace_en.qm; do
  grep -qxF "$f" <<<"$contents" || fail "$f is missing from the package"
done
outside=$(grep -v '^\./usr/\(bin\|share\)/' <<<"$contents" | grep -vxF './usr/' || true)
[ -z "$outside" ] || fail "files outside /usr/bin and /usr/share: $outside"

depends=$(dpkg-deb --field "$deb" Depends)
for d in fonts-arphic-uming qt6-qpa-plugins libqt6widgets6 libc6; do
  grep -qw -- "$d" <<<"$depends" || fail "Depends lacks $d: $depends"
done
[ "$(dpkg-deb --field "$deb" Version)" = "$version" ] || fail "package version is not $version"

# The packed programs are stripped copies: the command line must still run,
# and its manual page must carry its options.
unpacked=$(mktemp -d "${TMPDIR:-/tmp}/rastrace-package.XXXXXX")
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb --extract "$deb" "$unpacked/root"
[ "$("$unpacked/root/usr/bin/rastrace-cli" --version)" = "$("$build/rastrace-cli" --version)" ] ||
  fail "the packed rastrace-cli --version differs from the built one"
man=$(zcat "$unpacked/root/usr/share/man/man1/rastrace-cli.1.gz")
for text in '.TH RASTRACE-CLI "1"' '\-\-list\-colors' '\fB\-\-color\fR' 'License GPLv3+'; do
  grep -qF -- "$text" <<<"$man" || fail "the manual page of rastrace-cli lacks $text"
done
file "$unpacked/root/usr/bin/rastrace-cli" | grep -q ', stripped' || fail "rastrace-cli is not stripped"

# The packed window finds the packed translation from its own folder, as the
# installed one does: its about box, opened with the mouse, is titled in the
# locale's language.
for tool in xvfb-run xdotool; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps.sh installs it)"
done
mkdir -m 700 "$unpacked/runtime"  # Qt's runtime folder, so that none is made in TMPDIR
for case in "en_US.UTF-8|About Rastrace" "C|软件介绍"; do
  locale=${case%%|*}
  want=${case#*|}
  got=$(cd "$unpacked" && HOME="$unpacked" XDG_RUNTIME_DIR="$unpacked/runtime" xvfb-run -a sh "$repo/packaging/about-title.sh" "$unpacked/root/usr/bin/rastrace" "$locale" 2>&1 |
        grep -v '^QStandardPaths' || true)
  [ "$got" = "$want" ] || fail "under LANG=$locale the packed window's about box is titled \"$got\", not \"$want\""
  echo "window under LANG=$locale: about box \"$got\""
done
rm -f "$unpacked/root/usr/bin/set.ini"

# lintian leaves a cache file in its temporary folder: give it one of ours.
mkdir "$unpacked/lintian-tmp"
report=$(TMPDIR="$unpacked/lintian-tmp" lintian --pedantic --display-info "$deb" 2>&1 | grep -v '^running with root privileges' || true)
echo "lintian: $(grep -c '^E:' <<<"$report" || true) errors, $(grep -c '^W:' <<<"$report" || true) warnings," \
     "$(grep -c '^[IP]:' <<<"$report" || true) notes"
[ -z "$report" ] || printf '%s\n' "$report"
if grep -q '^[EW]:' <<<"$report"; then fail "lintian reports errors or warnings"; fi
echo "test-package: $(basename "$deb") passed"
