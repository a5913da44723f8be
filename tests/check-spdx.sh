#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Every source and build file the project tracks names its licence in an SPDX
# line among its first three lines. Skips (77) outside a git checkout.
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"
git rev-parse --is-inside-work-tree >/dev/null 2>&1 || { echo "not a git checkout: skipped"; exit 77; }
missing=0
while IFS= read -r f; do
  case "$f" in
    *.cpp|*.h|*.sh|*.py|*.cmake|*CMakeLists.txt|.ci/run) ;;
    *) continue ;;
  esac
  if ! head -n 3 "$f" | grep -q 'SPDX-License-Identifier: GPL-3.0-or-later'; then
    echo "no SPDX licence line: $f"; missing=1
  fi
done < <(git ls-files)
exit $missing
