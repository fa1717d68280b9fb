#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Every source, script and build file names its licence in its first line (its second under a
# shebang or an XML declaration): SPDX-License-Identifier: GPL-3.0-or-later. Lists those that do
# not, and fails if there are any. The files are git's; in a tree without git (an unpacked source
# tarball), those found there, build folders left out.   check_spdx.sh SOURCE_DIR
set -uo pipefail
cd "${1:?source folder}" || exit 2
tag='SPDX-License-Identifier: GPL-3.0-or-later'
if [ "$(git rev-parse --show-toplevel 2>/dev/null)" = "$(pwd -P)" ]; then
  files=$(git ls-files)
else
  files=$(find . \( -name .git -o -name .cache -o -name _CPack_Packages -o \( -type d -path './build*' \) \
                 -o \( -type d -exec test -e '{}/CMakeCache.txt' \; \) \) -prune -o -type f -printf '%P\n')
fi
checked=0
missing=()
while IFS= read -r f; do
  [ -f "$f" ] || continue   # deleted in the work tree, not yet in git
  case $f in   # by its name, or a script by its shebang; the fuzzers' seeds are data
    fuzz/corpus/*) continue ;;
    *.cpp | *.h | *.cmake | CMakeLists.txt | */CMakeLists.txt | *.py | *.sh | *.in | *.desktop | *.qrc | *.supp | *.html) ;;
    *) [ "$(head -c2 "$f" | tr -d '\0')" = '#!' ] || continue ;;
  esac
  checked=$((checked + 1))
  line=1
  case $(head -n1 "$f") in '#!'* | '<?xml'*) line=2 ;; esac
  sed -n "${line}p" "$f" | grep -qF "$tag" || missing+=("$f (line $line)")
done < <(LC_ALL=C sort <<<"$files")
[ $checked -gt 0 ] || { echo "FAIL: no source files found in $(pwd)" >&2; exit 1; }
if [ ${#missing[@]} -ne 0 ]; then
  echo "FAIL: ${#missing[@]} of $checked source, script and build files lack '$tag':" >&2
  printf '  %s\n' "${missing[@]}" >&2
  exit 1
fi
echo "all $checked source, script and build files carry '$tag'"
