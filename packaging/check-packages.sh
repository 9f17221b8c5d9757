#!/usr/bin/env bash
# Checks the packages that build-packages.sh wrote: lintian finds no errors
# in the .deb, man finds no warnings in the manual pages (the Japanese ones
# at 80 columns, and for a Japanese locale from the .deb), and the tools of
# the .deb (unpacked into a scratch root) and of the x86-64 zip (under Wine)
# extract the sample exactly as the build tree's d88extract does; the .deb
# also holds d88mount and depends on fuse3.
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
# The Japanese pages as built: no warnings, and no line with Japanese text
# wider than 80 columns (groff breaks no Japanese line by itself).
python3 tests/man_pages_test.py --render build/release/packaging

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
"$scratch/root/usr/bin/d88mount" --version
# d88mount is unmounted with fusermount3: the package depends on fuse3.
depends=$(dpkg-deb -f "$packages"/d88extract_*.deb Depends)
grep -Eq '(^|, )fuse3($|[ ,])' <<<"$depends" || {
  echo "the .deb does not depend on fuse3: $depends" >&2
  exit 1
}
# man finds the Japanese pages for a Japanese locale, the English otherwise
# (MANPATH, unlike -M, is searched for the locale's subfolders).
grep -qix 'ja_JP.utf-\?8' <<<"$(locale -a)" || {
  echo "no ja_JP.UTF-8 locale: ./prepare.sh packages generates it" >&2
  exit 1
}
for page in d88extract d88info d88mount d88put; do
  for want in ja_JP.UTF-8:名前 C.UTF-8:NAME; do
    shown=$(LANG=${want%%:*} LC_ALL='' MANPATH="$scratch/root/usr/share/man" MANWIDTH=80 \
      man --warnings "$page" 2>"$scratch/warnings.txt")
    if ! grep -qx "${want#*:}" <<<"$shown" || [[ -s "$scratch/warnings.txt" ]]; then
      echo "LANG=${want%%:*} man $page: not that language's page, or warnings:" >&2
      cat "$scratch/warnings.txt" >&2
      exit 1
    fi
  done
done

echo "== the x86-64 zip, under Wine"
wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
unzip -q "$packages"/d88extract-*-win64-x86_64.zip -d "$scratch/zip"
mkdir "$scratch/wine"
cp "$sample" "$scratch/sample.d88"
# Through the tests' wrapper, which starts the program again where Wine did
# not start it; its notes are no output of the tool.
wrapper=$PWD/cmake/run-under-wine.sh
(cd "$scratch/wine" && bash "$wrapper" "$wine64" "$scratch/zip/d88extract.exe" ../sample.d88 -a 2>&1 |
  LC_ALL=C grep -av '^note: wine did not start ' | tr -d '\r' >stdout.txt)
diff -r "$expected" "$scratch/wine"
echo "packages checked"
