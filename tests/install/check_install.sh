#!/usr/bin/env bash
# Checks one part of the installed tree; ctest runs each part as a test of its own.
#
#   check_install.sh install|files|desktop-entry|metainfo|icons|manual|command-line
#
# Environment (set by tests/install/CMakeLists.txt): INSTALL_PREFIX, BUILD_DIR, CMAKE,
# PROJECT_VERSION. Every check of a part runs; the part fails if any did.
# shellcheck disable=SC2015  # "check && ok || fail": ok only echoes, so fail runs exactly when the check fails
set -uo pipefail

part=${1:?which part}
prefix=${INSTALL_PREFIX:?}
version=${PROJECT_VERSION:?}
app_id=org.cistern.Sumpwell
bin=$prefix/bin/sumpwell
desktop=$prefix/share/applications/$app_id.desktop
metainfo=$prefix/share/metainfo/$app_id.metainfo.xml
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
ok() { echo "ok: $*"; }
need() { command -v "$1" >/dev/null || { echo "FAIL: $1 is missing (scripts/install-deps installs it)" >&2; exit 1; }; }

# A key's value in the [Desktop Entry] group.
desktop_key() { sed -n "/^\[Desktop Entry\]/,/^\[/s/^$1=//p" "$desktop" | head -n1; }

# Runs the installed program with no display of any kind, so that anything that answers without a
# window proves it needs none. Fills $out, $err and $rc.
run_headless() {
  local tmp
  tmp=$(mktemp -d)
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 20 "$bin" "$@" >"$tmp/out" 2>"$tmp/err"
  rc=$?
  out=$(cat "$tmp/out")
  err=$(cat "$tmp/err")
  rm -rf "$tmp"
}

case $part in
install)
  rm -rf "$prefix"
  "${CMAKE:?}" --install "${BUILD_DIR:?}" --prefix "$prefix" || fail "cmake --install into $prefix"
  ;;

files)
  # Exactly these files, nothing more (no libraries, tests or headers), the data not executable.
  expected="bin/sumpwell
share/applications/$app_id.desktop
share/icons/hicolor/16x16/apps/$app_id.png
share/icons/hicolor/256x256/apps/$app_id.png
share/icons/hicolor/32x32/apps/$app_id.png
share/icons/hicolor/48x48/apps/$app_id.png
share/icons/hicolor/scalable/apps/$app_id.svg
share/man/man1/sumpwell.1.gz
share/metainfo/$app_id.metainfo.xml"
  actual=$(cd "$prefix" && find . \( -type f -o -type l \) -printf '%P\n' | LC_ALL=C sort)
  if [ "$actual" = "$expected" ]; then
    ok "the installed files are the expected nine"
  else
    fail "installed files differ from the expected ones:"
    diff <(echo "$expected") <(echo "$actual") >&2
  fi
  [ -x "$bin" ] && ok "bin/sumpwell is executable" || fail "bin/sumpwell is not executable"
  while IFS= read -r f; do
    [ "$f" = bin/sumpwell ] && continue
    [ -e "$prefix/$f" ] || continue
    mode=$(stat -c %a "$prefix/$f")
    [ "$mode" = 644 ] || fail "$f has mode $mode, not 644"
  done <<<"$expected"
  ;;

desktop-entry)
  need desktop-file-validate
  if report=$(desktop-file-validate "$desktop" 2>&1); then
    ok "desktop-file-validate passes${report:+ (with: $report)}"
  else
    fail "desktop-file-validate: $report"
  fi
  exec_prog=$(desktop_key Exec | awk '{print $1}')
  [ -n "$exec_prog" ] && [ -x "$prefix/bin/$exec_prog" ] && ok "Exec runs the installed bin/$exec_prog" \
    || fail "Exec's program '$exec_prog' is not installed in bin/"
  [ "$(desktop_key TryExec)" = "$exec_prog" ] || fail "TryExec '$(desktop_key TryExec)' is not Exec's program"
  icon=$(desktop_key Icon)
  [ "$icon" = "$app_id" ] || fail "Icon is '$icon', not the application id $app_id"
  found=$(find "$prefix/share/icons/hicolor" -name "$icon.png" -o -name "$icon.svg" | wc -l)
  [ "$found" -ge 5 ] && ok "Icon=$icon is installed in hicolor ($found images)" \
    || fail "Icon=$icon: $found images in hicolor, expected 5"
  # Desktops match the window to the entry by WM_CLASS on X11: the program's class is its Qt
  # application name.
  [ "$(desktop_key StartupWMClass)" = Sumpwell ] || fail "StartupWMClass is not Sumpwell"
  ;;

metainfo)
  need appstreamcli
  if report=$(appstreamcli validate --no-net "$metainfo" 2>&1); then
    ok "appstreamcli validate --no-net passes"
  else
    fail "appstreamcli validate --no-net: $report"
  fi
  # The tree as a software centre reads it: metainfo, desktop entry and icon together.
  if report=$(appstreamcli validate-tree --no-net "$prefix" 2>&1); then
    ok "appstreamcli validate-tree --no-net passes"
  else
    fail "appstreamcli validate-tree --no-net: $report"
  fi
  value() { sed -n "s:.*<$1>\(.*\)</$1>.*:\1:p" "$metainfo" | head -n1; }
  [ "$(value id)" = "$app_id" ] || fail "metainfo id is '$(value id)', not $app_id"
  launchable=$(sed -n 's:.*<launchable type="desktop-id">\(.*\)</launchable>.*:\1:p' "$metainfo")
  [ -f "$prefix/share/applications/$launchable" ] && ok "launchable $launchable is installed" \
    || fail "launchable '$launchable' is not in share/applications"
  binary=$(value binary)
  [ -x "$prefix/bin/$binary" ] || fail "provided binary '$binary' is not installed"
  grep -q "<release version=\"$version\"" "$metainfo" && ok "a release $version is listed" \
    || fail "no release $version (the project's version) in the metainfo"
  [ "$(value project_license)" = LicenseRef-proprietary ] || fail "project_license is '$(value project_license)'"
  grep -q '<content_rating type="oars-' "$metainfo" || fail "no OARS content rating"
  ;;

icons)
  for size in 16 32 48 256; do
    png=$prefix/share/icons/hicolor/${size}x${size}/apps/$app_id.png
    if [ ! -f "$png" ]; then
      fail "$png is missing"
      continue
    fi
    # The signature, then IHDR's width and height as big-endian numbers at bytes 16 and 20.
    signature=$(od -An -tx1 -N8 "$png" | tr -d ' \n')
    read -r w0 w1 w2 w3 h0 h1 h2 h3 < <(od -An -tu1 -j16 -N8 "$png")
    width=$(((w0 << 24) | (w1 << 16) | (w2 << 8) | w3))
    height=$(((h0 << 24) | (h1 << 16) | (h2 << 8) | h3))
    if [ "$signature" = 89504e470d0a1a0a ] && [ "$width" = "$size" ] && [ "$height" = "$size" ]; then
      ok "${size}x${size}: a ${width}x${height} PNG"
    else
      fail "${size}x${size}/apps/$app_id.png: signature $signature, ${width}x${height}"
    fi
  done
  svg=$prefix/share/icons/hicolor/scalable/apps/$app_id.svg
  if grep -q '<svg[^>]*viewBox=' "$svg" && grep -q '</svg>' "$svg"; then
    ok "scalable: an SVG with a viewBox"
  else
    fail "$svg is not an SVG with a viewBox"
  fi
  ;;

manual)
  need man
  page=$prefix/share/man/man1/sumpwell.1.gz
  gzip -t "$page" || fail "$page is not gzip data"
  # Found by name in the installed tree's manual folder, as man finds it under /usr/share/man.
  where=$(man -M "$prefix/share/man" -w sumpwell 2>&1)
  [ "$where" = "$page" ] && ok "man finds sumpwell(1) in the prefix" || fail "man -M ... -w sumpwell: $where"
  scratch=$(mktemp)
  text=$(MANWIDTH=100 man --warnings -l "$page" 2>"$scratch")
  warnings=$(cat "$scratch")
  rm -f "$scratch"
  [ -z "$warnings" ] && ok "groff has no warnings" || fail "groff warnings: $warnings"
  for heading in NAME SYNOPSIS DESCRIPTION OPTIONS FILES "EXIT STATUS"; do
    grep -qx "$heading" <<<"$text" || fail "no $heading section"
  done
  grep -q '^ *sumpwell - ' <<<"$text" || fail "NAME does not read 'sumpwell - ...'"
  # shellcheck disable=SC2088  # the page's literal text
  for mention in '-h, --help' '-v, --version' '-platform' '~/.config/Sumpwell/Sumpwell.ini' 'XDG_CONFIG_HOME'; do
    grep -qF -- "$mention" <<<"$text" || fail "the page does not mention $mention"
  done
  [ $failures -eq 0 ] && ok "sections and options are all there"
  ;;

command-line)
  # The installed binary stands on its own: every library found, no run path into the build.
  missing=$(ldd "$bin" | grep 'not found')
  [ -z "$missing" ] && ok "ldd finds every library" || fail "ldd: $missing"
  runpath=$(readelf -d "$bin" | grep -E 'RPATH|RUNPATH')
  [ -z "$runpath" ] && ok "no RPATH/RUNPATH" || fail "installed binary keeps a run path: $runpath"

  full_version=$(cut -d. -f1-4 <<<"$version.0.0.0")   # the version block's four parts
  run_headless --version
  [ $rc -eq 0 ] && [ "$out" = "Sumpwell $full_version" ] && [ -z "$err" ] && ok "--version: $out" \
    || fail "--version: exit $rc, stdout '$out', stderr '$err'"
  run_headless -v
  [ $rc -eq 0 ] && [ "$out" = "Sumpwell $full_version" ] || fail "-v: exit $rc, stdout '$out'"
  run_headless --help
  [ $rc -eq 0 ] && grep -q '^Usage: sumpwell \[FILE\]' <<<"$out" && grep -qF -- '--version' <<<"$out" \
    && ok "--help exits 0 with the usage" || fail "--help: exit $rc, stdout '$out', stderr '$err'"

  # A wrong command line: exit 2 before any window, the reason on stderr and nothing on stdout.
  refused() {
    local what=$1; shift
    run_headless "$@"
    if [ $rc -eq 2 ] && [ -z "$out" ] && grep -q '^sumpwell: ' <<<"$err"; then
      ok "$what refused: $(head -n1 <<<"$err")"
    else
      fail "$what: exit $rc, stdout '$out', stderr '$err'"
    fi
  }
  refused "an unknown option" --no-such-option
  refused "two files" first.log second.log
  refused "a Qt option without its value" -style
  ;;

*)
  echo "check_install.sh: no part '$part'" >&2
  exit 2
  ;;
esac

exit $((failures > 0))
