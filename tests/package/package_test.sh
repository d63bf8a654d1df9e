#!/usr/bin/env bash
# The release packages of scripts/package, as a user gets them:
#  - the .deb installs with apt-get on this Debian system, and the installed
#    servo-tool --demo --screenshots works from another working directory
#    (it finds its files and servo-sim beside its executable); it is removed
#    again afterwards;
#  - the win64 zip, unpacked into the Windows tests' Wine prefix, runs
#    servoctl.exe defs Language\DefineEn.cfg from its own folder.
# Root only (it installs a package). Ends with "N passed, M failed".
set -uo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
version=$(sed -n 's/^project(servo_tool VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
deb=$root/build/packages/servo-tool_${version}_amd64.deb
zip=$root/build/packages/servo-tool-$version-win64.zip
prefix=$root/build/windows/wineprefix
passed=0
failed=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

check() {  # check NAME COMMAND...: one case
  local name=$1
  shift
  if "$@" >"$work/log" 2>&1; then
    passed=$((passed + 1))
    echo "ok   $name"
  else
    failed=$((failed + 1))
    echo "FAIL $name"
    sed 's/^/     /' "$work/log"
  fi
}

deb_installs() {
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y -q --no-install-recommends "$deb" || return 1
  dpkg-query -W -f='${Status}\n' servo-tool | grep -q "install ok installed" || return 1
  [ "$(readlink -f "$(command -v servo-tool)")" = /opt/servo-tool/servo-tool ] || return 1
  [ -f /usr/share/applications/servo-tool.desktop ] || return 1
  [ -f /usr/share/icons/hicolor/256x256/apps/servo-tool.png ] || return 1
}

installed_demo_from_elsewhere() {
  mkdir -p "$work/elsewhere"
  # A folder without Language/ or servo-sim: all must come from /opt/servo-tool.
  (cd "$work/elsewhere" && env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen \
    timeout 120 servo-tool --lang en --demo --screenshots "$work/shots") || return 1
  for page in status parameters scope; do
    [ -s "$work/shots/$page.png" ] || { echo "no $page.png"; return 1; }
  done
  servoctl defs /opt/servo-tool/Language/DefineEn.cfg >/dev/null
}

deb_removes() {
  apt-get remove -y -q servo-tool && [ ! -e /opt/servo-tool/servo-tool ]
}

zip_runs_servoctl_in_wine() {
  local dir=$prefix/drive_c/servo-tool-package-test
  rm -rf "$dir"
  mkdir -p "$dir"
  unzip -q "$zip" -d "$dir" || return 1
  [ -f "$dir/servo-tool-$version-win64/README.txt" ] || return 1
  (cd "$dir/servo-tool-$version-win64" &&
    timeout 120 "$root/tests/windows/wine.sh" run "$prefix" servoctl.exe defs 'Language\DefineEn.cfg' \
      >"$work/defs.out") || { rm -rf "$dir"; return 1; }
  rm -rf "$dir"
  grep -q . "$work/defs.out"
}

[ "$(id -u)" -eq 0 ] || { echo "package_test.sh installs a package: run it as root"; exit 1; }
[ -f "$deb" ] && [ -f "$zip" ] || { echo "no packages: run scripts/package first"; exit 1; }
check "the .deb installs with apt-get" deb_installs
check "the installed servo-tool --demo --screenshots works from another folder" \
  installed_demo_from_elsewhere
check "the .deb removes cleanly" deb_removes
check "the zip in a Wine prefix runs servoctl.exe defs" zip_runs_servoctl_in_wine
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
