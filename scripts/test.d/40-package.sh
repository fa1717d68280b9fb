#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package: built with cpack from $BUILD_DIR, checked by lintian (when installed; no error
# and no warning may be left), installed with dpkg -i, run from /usr/bin, removed with dpkg -r;
# afterwards none of its files may be left. The package is removed again whatever goes wrong in
# between. Then the source tarball: made with cpack from the same build folder, it must hold every
# file git tracks and no build output, and build with the README's command in a scratch folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build_dir=${BUILD_DIR:-$root/build}
stage=$(basename "$0")

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
    as_root=(sudo -n)
  else
    echo "$stage: SKIPPED: installing a package needs root or passwordless sudo"
    exit 0
  fi
fi

installed() { dpkg-query -W -f='${Status}' sumpwell 2>/dev/null | grep -q ' installed$'; }
if installed || dpkg-query -W -f='${Status}' sumpwell 2>/dev/null | grep -q 'config-files'; then
  echo "$stage: a sumpwell package is already on this machine; this stage installs and removes its own." >&2
  echo "$stage: remove it first: dpkg --purge sumpwell" >&2
  exit 1
fi

work=$(mktemp -d)
we_installed=0
cleanup() {
  if [ $we_installed -eq 1 ] && installed; then
    echo "$stage: removing the package after a failure"
    "${as_root[@]}" dpkg -r sumpwell >/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP   # so that an interrupted run still goes through cleanup

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# Runs dpkg, waiting (at most two minutes) while another dpkg or apt holds its lock.
dpkg_waiting() {
  local deadline=$((SECONDS + 120)) status
  while :; do
    status=0
    "${as_root[@]}" dpkg "$@" 2>"$work/dpkg.err" || status=$?
    if [ $status -ne 0 ] && grep -q 'lock' "$work/dpkg.err" && [ $SECONDS -lt $deadline ]; then
      sleep 1
      continue
    fi
    cat "$work/dpkg.err" >&2
    return $status
  done
}

# ---- Build -------------------------------------------------------------------------------------------
(cd "$build_dir" && cpack -G DEB -B "$work/out") >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log" >&2; exit 1; }
deb=$(find "$work/out" -maxdepth 1 -name 'sumpwell_*.deb')
[ -f "$deb" ] || { echo "$stage: cpack made no .deb" >&2; cat "$work/cpack.log" >&2; exit 1; }
echo "built $(basename "$deb")"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = sumpwell ] || fail "Package is '$(field Package)'"
# The version written once, in CMake's project(); --version shows its four parts.
project_version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build_dir/CMakeCache.txt")
full_version=$(cut -d. -f1-4 <<<"$project_version.0.0.0")
[ "$(field Version)" = "$project_version" ] || fail "Version is '$(field Version)', not '$project_version'"
[ "$(field Maintainer)" = "Cistern <dev@cistern.example>" ] || fail "Maintainer is '$(field Maintainer)'"
[ -n "$(field Section)" ] || fail "no Section"
[ -n "$(field Description)" ] || fail "no Description"
depends=$(field Depends)
depends_names=$(tr ',|' '\n' <<<"$depends" | awk '{print $1}')
for lib in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6; do
  grep -qxF "$lib" <<<"$depends_names" || fail "Depends lacks $lib: $depends"
done
echo "Depends: $depends"

# Debian's own checks of a binary package. Overrides, if ever needed, go in the package with a
# comment saying why they are right for it.
if command -v lintian >/dev/null; then
  if lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1; then
    echo "lintian: no errors, no warnings"
  else
    fail "lintian: $(grep -v 'running with root privileges' "$work/lintian.log")"
  fi
else
  echo "not checked: lintian is not installed (scripts/install-deps installs it)"
fi

# ---- Install and run -------------------------------------------------------------------------------------
we_installed=1
dpkg_waiting -i "$deb" >"$work/install.log" || { cat "$work/install.log" >&2; exit 1; }
installed || { echo "$stage: dpkg -i did not leave sumpwell installed" >&2; exit 1; }
echo "installed: $(dpkg-query -W -f='${Package} ${Version} ${Status}' sumpwell)"

dpkg -L sumpwell >"$work/listed"
# What the package put on disk: the files (directories are shared with other packages).
while IFS= read -r path; do
  if [ -f "$path" ] && [ ! -d "$path" ]; then echo "$path"; fi
done <"$work/listed" >"$work/files"
# Slimmed-down systems tell dpkg to leave some folders out (path-exclude, /usr/share/man often).
excluded_by_dpkg() {
  local pattern
  while IFS= read -r pattern; do
    # shellcheck disable=SC2053  # the pattern is a glob
    [[ $1 == $pattern ]] && return 0
  done < <(cat /etc/dpkg/dpkg.cfg /etc/dpkg/dpkg.cfg.d/* 2>/dev/null | sed -n 's/^path-exclude[= ]*//p')
  return 1
}
for expected in /usr/bin/sumpwell /usr/share/applications/org.cistern.Sumpwell.desktop \
                /usr/share/metainfo/org.cistern.Sumpwell.metainfo.xml \
                /usr/share/icons/hicolor/256x256/apps/org.cistern.Sumpwell.png \
                /usr/share/icons/hicolor/scalable/apps/org.cistern.Sumpwell.svg \
                /usr/share/man/man1/sumpwell.1.gz \
                /usr/share/doc/sumpwell/copyright /usr/share/doc/sumpwell/changelog.gz; do
  if grep -qx "$expected" "$work/files"; then
    continue
  elif excluded_by_dpkg "$expected"; then
    echo "not checked: $expected (this system's dpkg configuration leaves it out)"
  else
    fail "the package did not install $expected"
  fi
done

# Headless: no display of any kind, and the program from /usr/bin, not the build.
version=$(cd / && env -i PATH=/usr/bin:/bin timeout 20 /usr/bin/sumpwell --version 2>&1) \
  || fail "/usr/bin/sumpwell --version failed: $version"
if [ "$version" = "Sumpwell $full_version" ]; then
  echo "/usr/bin/sumpwell --version: $version"
else
  fail "/usr/bin/sumpwell --version printed '$version'"
fi
missing=$(ldd /usr/bin/sumpwell | grep 'not found' || true)
[ -z "$missing" ] || fail "the installed program lacks libraries: $missing"
if ! excluded_by_dpkg /usr/share/man/man1/sumpwell.1.gz; then
  [ "$(man -w sumpwell 2>&1)" = /usr/share/man/man1/sumpwell.1.gz ] || fail "man -w sumpwell: $(man -w sumpwell 2>&1)"
fi

# ---- Remove ---------------------------------------------------------------------------------------------
dpkg_waiting -r sumpwell >"$work/remove.log" || { cat "$work/remove.log" >&2; exit 1; }
we_installed=0
status=$(dpkg-query -W -f='${Status}' sumpwell 2>/dev/null || true)
case $status in
  "" | *not-installed) echo "removed: ${status:-no longer known to dpkg}" ;;
  *) fail "after dpkg -r the package's status is '$status'" ;;
esac
left=0
while IFS= read -r path; do
  if [ -e "$path" ] || [ -L "$path" ]; then
    fail "left behind: $path"
    left=$((left + 1))
  fi
done <"$work/files"
# Folders that only this package used must be gone too.
while IFS= read -r path; do
  [ -d "$path" ] || continue
  dpkg-query -S "$path" >/dev/null 2>&1 && continue
  [ -z "$(ls -A "$path")" ] && { fail "left behind an empty folder: $path"; left=$((left + 1)); }
done <"$work/listed"
[ $left -eq 0 ] && echo "none of the package's $(wc -l <"$work/files") files is left"

# ---- Source tarball -------------------------------------------------------------------------------------
(cd "$build_dir" && cpack --config CPackSourceConfig.cmake -B "$work/src") >"$work/cpack-source.log" 2>&1 \
  || { cat "$work/cpack-source.log" >&2; exit 1; }
name=sumpwell-$project_version
tarball=$work/src/$name.tar.gz
[ -f "$tarball" ] || { echo "$stage: cpack made no $name.tar.gz" >&2; ls "$work/src" >&2; exit 1; }
echo "built $(basename "$tarball") ($(du -k "$tarball" | cut -f1) KiB)"
tar -tzf "$tarball" | sed -n "s|^$name/||p" | grep -v '/$' | LC_ALL=C sort >"$work/tarred"
[ "$(tar -tzf "$tarball" | grep -cv "^$name/")" -eq 0 ] || fail "the tarball has files outside $name/"
if git -C "$root" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git -C "$root" ls-files | LC_ALL=C sort >"$work/tracked"
  while IFS= read -r path; do
    [ -e "$root/$path" ] || continue   # deleted in the work tree
    fail "the tarball lacks $path"
  done < <(LC_ALL=C comm -23 "$work/tracked" "$work/tarred")
  LC_ALL=C comm -13 "$work/tracked" "$work/tarred" | sed 's/^/note: in the tarball, not tracked by git: /'
fi
built=$(grep -E '(^|/)(CMakeCache\.txt|CMakeFiles/|build\.ninja|Makefile|_CPack_Packages/|compile_commands\.json)|\.(o|a|deb|tar\.gz)$|^build[^/]*/' "$work/tarred" || true)
[ -z "$built" ] || fail "build output in the tarball ($(wc -l <<<"$built") files): $(head -n 5 <<<"$built" | tr '\n' ' ')..."

# Built as someone who downloaded it would: unpacked in a scratch folder, with the README's build
# command (tests and benchmarks left out, which cmake is told through it), installed into a prefix.
mkdir -p "$work/scratch"
tar -xzf "$tarball" -C "$work/scratch"
if (cd "$work/scratch/$name" && env -u BUILD_DIR ./scripts/build -DCISTERN_TESTS=OFF -DCISTERN_BENCH=OFF \
      && cmake --install build --prefix "$work/scratch/prefix") >"$work/scratch-build.log" 2>&1; then
  scratch_version=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 20 "$work/scratch/prefix/bin/sumpwell" --version 2>&1) || true
  [ "$scratch_version" = "Sumpwell $full_version" ] || fail "the program built from the tarball says '$scratch_version'"
  echo "built from the tarball in a scratch folder: $scratch_version, $(find "$work/scratch/prefix" -type f | wc -l) files installed"
else
  tail -n 30 "$work/scratch-build.log" >&2
  fail "the tarball does not build with ./scripts/build"
fi
# Without git, the licence check goes by the files it finds.
bash "$work/scratch/$name/tests/install/check_spdx.sh" "$work/scratch/$name" || fail "the tarball's files lack their licence line"

if [ $failures -ne 0 ]; then
  echo "$stage: $failures check(s) failed" >&2
  exit 1
fi
echo "$stage: the package builds, passes lintian, installs, runs and removes cleanly; the source tarball builds"
