#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Every source, script and build file of the tree names its licence in its first line (its second,
# under a shebang or an XML declaration): SPDX-License-Identifier: GPL-3.0-or-later. Lists those
# that do not and fails if there are any.
#   check_spdx.sh SOURCE_DIR
# The files are git's tracked ones; in a tree without git (an unpacked source tarball) those found
# there, build folders left out.
set -uo pipefail
cd "${1:?source folder}" || exit 2
tag='SPDX-License-Identifier: GPL-3.0-or-later'

list_files() {
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1 && [ "$(git rev-parse --show-toplevel)" = "$(pwd -P)" ]; then
    git ls-files
  else
    find . \( -name .git -o -name '.cache' -o -name '_CPack_Packages' -o \( -type d -path './build*' \) \
              -o \( -type d -exec test -e '{}/CMakeCache.txt' \; \) \) -prune -o -type f -printf '%P\n'
  fi
}

# Source, script or build file: by its name, or a script by its shebang. Seeds of the fuzzers are data.
is_source() {
  case $1 in
    fuzz/corpus/*) return 1 ;;
    *.cpp | *.h | *.cmake | CMakeLists.txt | */CMakeLists.txt | *.py | *.sh | *.in | *.desktop | *.qrc | *.supp | *.html) return 0 ;;
  esac
  [ "$(head -c2 "$1" | tr -d '\0')" = '#!' ]
}

checked=0
missing=()
while IFS= read -r f; do
  [ -f "$f" ] || continue   # deleted in the work tree, not yet in git
  is_source "$f" || continue
  checked=$((checked + 1))
  first=$(head -n1 "$f")
  line=1
  case $first in '#!'* | '<?xml'*) line=2 ;; esac
  sed -n "${line}p" "$f" | grep -qF "$tag" || missing+=("$f (line $line)")
done < <(list_files | LC_ALL=C sort)

if [ $checked -eq 0 ]; then
  echo "FAIL: no source files found in $(pwd)" >&2
  exit 1
fi
if [ ${#missing[@]} -ne 0 ]; then
  echo "FAIL: ${#missing[@]} of $checked source, script and build files lack '$tag':" >&2
  printf '  %s\n' "${missing[@]}" >&2
  exit 1
fi
echo "all $checked source, script and build files carry '$tag'"
