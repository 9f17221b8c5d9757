#!/usr/bin/env bash
# Builds every package into build/packages/: the .tar.gz and .deb for Linux,
# a .zip each for Windows i686 and x86-64, and the web page's .zip.
#
#   packaging/build-packages.sh
set -euo pipefail
cd "$(dirname "$0")/.."

rm -rf build/packages
mkdir -p build/packages

cmake --workflow --preset release >/dev/null
(cd build/release && cpack -G "TGZ;DEB" >/dev/null)

for preset in win32 win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target d88extract d88info d88put >/dev/null
  (cd "build/$preset" && cpack -G ZIP >/dev/null)
done

# The page needs emscripten; without it the other packages are still built.
if command -v emcc >/dev/null; then
  cmake --preset web >/dev/null
  cmake --build --preset web >/dev/null
  (cd build/web && cpack -G ZIP >/dev/null)
fi

rm -rf build/packages/_CPack_Packages
ls -l build/packages
