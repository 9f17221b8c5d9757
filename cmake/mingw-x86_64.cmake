# Cross build for 64-bit Windows (x86-64); its tests run under Wine.
set(D88_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# Debian keeps its 64-bit Wine loader off PATH.
find_program(D88_WINE64 wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(D88_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_COMMAND} -E env WINEDEBUG=-all ${D88_WINE64})
endif()
