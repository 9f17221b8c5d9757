#!/usr/bin/env bash
# Checks the packages that build-packages.sh wrote: lintian finds no errors
# in the .deb, man finds no warnings in the manual pages, and the tools of
# the .deb (unpacked into a scratch root) and of the x86-64 zip (under Wine)
# extract the sample exactly as the build tree's d88extract does.
set -euo pipefail
cd "$(dirname "$0")/.."
packages=$PWD/build/packages
sample=$PWD/build/release/sample.d88
bin=$PWD/build/release/bin
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

echo "== lintian"
status=0
lintian --fail-on error "$packages"/d88extract_*.deb >"$scratch/lintian.txt" 2>&1 || status=$?
grep -v 'running with root privileges' "$scratch/lintian.txt" || true
((status == 0))

echo "== manual pages"
for page in build/release/packaging/*.1; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
  if [[ -n "$warnings" ]]; then
    echo "$page: $warnings"
    exit 1
  fi
done

# What the build tree's d88extract writes for the sample, with its output.
expected="$scratch/expected"
mkdir "$expected"
(cd "$expected" && "$bin/d88extract" "$sample" -a >stdout.txt 2>&1)

echo "== the .deb, unpacked"
dpkg -x "$packages"/d88extract_*.deb "$scratch/root"
mkdir "$scratch/deb"
(cd "$scratch/deb" && "$scratch/root/usr/bin/d88extract" "$sample" -a >stdout.txt 2>&1)
diff -r "$expected" "$scratch/deb"
"$scratch/root/usr/bin/d88info" --version
"$scratch/root/usr/bin/d88put" --version

echo "== the x86-64 zip, under Wine"
wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
unzip -q "$packages"/d88extract-*-win64-x86_64.zip -d "$scratch/zip"
mkdir "$scratch/wine"
cp "$sample" "$scratch/sample.d88"
(cd "$scratch/wine" && WINEDEBUG=-all "$wine64" "$scratch/zip/d88extract.exe" ../sample.d88 -a 2>&1 |
  tr -d '\r' >stdout.txt)
diff -r "$expected" "$scratch/wine"
echo "packages checked"
