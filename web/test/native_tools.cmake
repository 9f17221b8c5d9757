# Builds the native tools the browser tests compare the page with, with the
# release preset: cmake -DSOURCE_DIR=... -P native_tools.cmake
foreach(step "--preset;release" "--build;--preset;release;--target;d88info;d88extract;d88put;sample;make_full")
  execute_process(COMMAND ${CMAKE_COMMAND} ${step} WORKING_DIRECTORY ${SOURCE_DIR} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake ${step}: ${result}")
  endif()
endforeach()
