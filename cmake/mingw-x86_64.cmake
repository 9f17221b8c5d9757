# Cross build for 64-bit Windows (x86-64); its tests run under Wine.
set(D88_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# Debian keeps its 64-bit Wine loader off PATH.
find_program(D88_WINE64 wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
# The tests run under it through run-under-wine.sh, which starts a program
# again when Wine failed to start it at all (WINEDEBUG=-all unless set).
if(D88_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/run-under-wine.sh ${D88_WINE64})
endif()
# One Wine server serves a whole test run (tests/CMakeLists.txt).
find_program(D88_WINESERVER wineserver PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
