#!/usr/bin/env bash
# Builds the .deb from a built tree (no compiling), unpacks it with dpkg -x
# into a scratch root and checks the installed files and the dependencies.
# Usage: deb_package_test.sh BUILD_DIR [CPACK]
set -euo pipefail
build=$1
cpack=${2:-cpack}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() { echo "deb_package_test: $*" >&2; exit 1; }

"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log" >&2; fail "cpack failed"; }
debs=("$scratch"/out/*.deb)
[[ ${#debs[@]} -eq 1 && -f ${debs[0]} ]] || fail "expected one .deb, got: ${debs[*]}"
deb=${debs[0]}

dpkg-deb -x "$deb" "$scratch/root"
for file in usr/bin/tavrin usr/bin/tavrin-cli; do
  [[ -x $scratch/root/$file ]] || fail "$file missing or not executable"
done
for file in usr/share/applications/tavrin.desktop usr/share/icons/hicolor/scalable/apps/tavrin.svg \
            usr/share/man/man1/tavrin-cli.1; do
  [[ -s $scratch/root/$file ]] || fail "$file missing or empty"
done
"$scratch/root/usr/bin/tavrin-cli" --version | grep -q '^tavrin-cli [0-9]' || fail "installed tavrin-cli does not run"
grep -q '^Name\[zh_CN\]=' "$scratch/root/usr/share/applications/tavrin.desktop" || fail "no Chinese name"
grep -q '^Name=' "$scratch/root/usr/share/applications/tavrin.desktop" || fail "no English name"

depends=$(dpkg-deb -f "$deb" Depends)
for package in libmicrohttpd libcurl libpugixml libqt6widgets6 libc6; do
  [[ $depends == *"$package"* ]] || fail "Depends lacks $package: $depends"
done
[[ $(dpkg-deb -f "$deb" Package) == tavrin ]] || fail "package name"
echo "ok: $(basename "$deb"), Depends: $depends"
