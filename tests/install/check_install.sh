#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks one part of the installed tree the way a desktop, a software centre or man reads it:
#   check_install.sh install|files|desktop|manual|program|docs
# Environment (from tests/install/CMakeLists.txt): INSTALL_PREFIX, BUILD_DIR, CMAKE, PROJECT_VERSION,
# SOURCE_DIR.
set -uo pipefail
prefix=${INSTALL_PREFIX:?}
id=org.cistern.Sumpwell
bin=$prefix/bin/sumpwell
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

case ${1:?which part} in
install)
  rm -rf "$prefix"
  "${CMAKE:?}" --install "${BUILD_DIR:?}" --prefix "$prefix" || fail "cmake --install"
  ;;
files)   # exactly these, the data not executable, each icon a PNG of its size
  expected="bin/sumpwell
share/applications/$id.desktop
share/doc/sumpwell/changelog.gz
share/doc/sumpwell/copyright
share/icons/hicolor/16x16/apps/$id.png
share/icons/hicolor/256x256/apps/$id.png
share/icons/hicolor/32x32/apps/$id.png
share/icons/hicolor/48x48/apps/$id.png
share/icons/hicolor/scalable/apps/$id.svg
share/man/man1/sumpwell.1.gz
share/metainfo/$id.metainfo.xml"
  actual=$(cd "$prefix" && find . -type f -printf '%P %m\n' | LC_ALL=C sort)
  [ "$actual" = "$(sed 's/$/ 644/; 1s/644$/755/' <<<"$expected")" ] || fail "installed files and modes: $actual"
  for size in 16 32 48 256; do
    header=$(od -An -tx1 -N24 "$prefix/share/icons/hicolor/${size}x$size/apps/$id.png" | tr -d ' \n')
    [ "$header" = "89504e470d0a1a0a0000000d49484452$(printf '%08x%08x' "$size" "$size")" ] || fail "${size}px icon: $header"
  done
  ;;
desktop)   # the entry, the metainfo and the icons together, as a software centre reads them
  desktop-file-validate "$prefix/share/applications/$id.desktop" || fail "desktop-file-validate"
  appstreamcli validate-tree --no-net "$prefix" || fail "appstreamcli validate-tree"
  grep -qx "Exec=sumpwell %f" "$prefix/share/applications/$id.desktop" || fail "Exec is not the installed program"
  grep -qx "Icon=$id" "$prefix/share/applications/$id.desktop" || fail "Icon is not $id"
  ;;
manual)
  [ "$(man -M "$prefix/share/man" -w sumpwell 2>&1)" = "$prefix/share/man/man1/sumpwell.1.gz" ] || fail "man does not find sumpwell(1)"
  warnings=$(MANWIDTH=100 man --warnings -l "$prefix/share/man/man1/sumpwell.1.gz" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "groff warnings: $warnings"
  ;;
program)   # stands on its own, and answers --version without any display
  ldd "$bin" | grep 'not found' && fail "a library is missing"
  readelf -d "$bin" | grep -E 'RPATH|RUNPATH' && fail "the installed program keeps a run path"
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 20 "$bin" --version 2>&1)
  [ "$out" = "Sumpwell $(cut -d. -f1-4 <<<"${PROJECT_VERSION:?}.0.0.0")" ] || fail "--version said: $out"
  ;;
docs)   # the licence and the changes, as Debian keeps them
  doc=$prefix/share/doc/sumpwell
  cmp "$doc/copyright" "${SOURCE_DIR:?}/docs/copyright" || fail "copyright is not docs/copyright"
  gzip -dc "$doc/changelog.gz" | cmp - "$SOURCE_DIR/NEWS" || fail "changelog.gz is not NEWS"
  # -9 (the header's extra flags say so) and -n (no name, no time stamp)
  [ "$(od -An -tx1 -j3 -N6 "$doc/changelog.gz" | tr -d ' \n')" = 000000000002 ] || fail "changelog.gz not made with gzip -9n"
  [ "$(dpkg-parsechangelog -l "$SOURCE_DIR/NEWS" -S Version)" = "${PROJECT_VERSION:?}" ] || fail "NEWS does not begin with version $PROJECT_VERSION"
  ;;
esac
exit $((failures > 0))
