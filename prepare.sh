#!/usr/bin/env bash
# Installs the Debian packages that a purpose needs, and nothing when they are
# all there. Debian 12 is the system the project is built and tested on.
#
#   ./prepare.sh release       the tools and the sample
#   ./prepare.sh test          every test (release and sanitize presets)
#   ./prepare.sh web           the browser page and its tests
#   ./prepare.sh windows       the Windows cross builds, tests under Wine
#   ./prepare.sh packages      every package (packaging/build-packages.sh)
#   ./prepare.sh fuzz          the fuzz targets (fuzz/run.sh)
#   ./prepare.sh bench         the benchmark (bench/run.sh)
#   ./prepare.sh --list P...   print the packages, one line, and install nothing
#
# As root it runs apt-get itself, otherwise through sudo; without either it
# prints the line to run as root and stops. With the packages' purpose it also
# generates the locale ja_JP.UTF-8, in which the Japanese manual pages are
# checked.
set -euo pipefail

# The one list of packages for each purpose; .ci/run reads it from here.
declare -A needs=(
  [release]="cmake g++ make nlohmann-json3-dev libcli11-dev libfuse3-dev"
  [test]="cmake g++ make nlohmann-json3-dev libcli11-dev libfuse3-dev libgtest-dev python3 python3-jsonschema man-db groff-base fuse3 vim rsync"
  [web]="cmake g++ make nlohmann-json3-dev libcli11-dev emscripten chromium fonts-ipafont-gothic xxd python3"
  [windows]="cmake make nlohmann-json3-dev libcli11-dev g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64 googletest"
  [packages]="cmake g++ make nlohmann-json3-dev libcli11-dev libfuse3-dev fuse3 g++-mingw-w64-i686 g++-mingw-w64-x86-64 emscripten lintian man-db groff-base dpkg-dev unzip python3 locales"
  [fuzz]="cmake make nlohmann-json3-dev libcli11-dev clang libclang-rt-14-dev"
  [bench]="cmake g++ make nlohmann-json3-dev libcli11-dev libfuse3-dev fuse3 time"
)
# The page's build and tests fetch their npm packages with npm, which may
# also come from elsewhere than Debian.
if ! command -v npm >/dev/null; then
  needs[web]+=" npm"
  needs[packages]+=" npm"
fi

usage() {
  echo "usage: $0 [--list] PURPOSE... (release test web windows packages fuzz bench)" >&2
  exit 2
}

list=false
if [[ ${1:-} == --list ]]; then
  list=true
  shift
fi
(($# > 0)) || usage
wanted=()
for purpose in "$@"; do
  [[ -n ${needs[$purpose]:-} ]] || usage
  for package in ${needs[$purpose]}; do
    [[ " ${wanted[*]} " == *" $package "* ]] || wanted+=("$package")
  done
done
if $list; then
  echo "${wanted[*]}"
  exit 0
fi

if ! command -v apt-get >/dev/null || ! command -v dpkg-query >/dev/null; then
  echo "$0: this system has no apt-get; the project is built and tested on Debian 12." >&2
  echo "Install the equivalents of these Debian packages, then run the cmake command:" >&2
  echo "  ${wanted[*]}" >&2
  exit 1
fi

missing=()
for package in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
# man shows the Japanese manual pages only in a Japanese locale.
locale_missing=false
if [[ " ${wanted[*]} " == *" locales "* ]] && ! grep -qix 'ja_JP.utf-\?8' <<<"$(locale -a 2>/dev/null)"; then
  locale_missing=true
fi
((${#missing[@]} > 0)) || $locale_missing || exit 0
generate_locale="sed -i '/^# *ja_JP.UTF-8 UTF-8/s/^# *//' /etc/locale.gen && { grep -qx 'ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >>/etc/locale.gen; } && locale-gen"

if ((EUID == 0)); then
  run=()
elif command -v sudo >/dev/null; then
  run=(sudo)
else
  echo "$0: not root, and no sudo; as root, run:" >&2
  ((${#missing[@]} == 0)) || echo "  apt-get update && apt-get install -y ${missing[*]}" >&2
  ! $locale_missing || echo "  $generate_locale" >&2
  exit 1
fi
if ((${#missing[@]} > 0)); then
  echo "$0: installing for $*: ${missing[*]}" >&2
  "${run[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  "${run[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi
if $locale_missing; then
  echo "$0: generating the locale ja_JP.UTF-8" >&2
  "${run[@]}" sh -c "$generate_locale" >/dev/null
fi
