# Builds the native tools the browser tests compare the page with, as a
# release build in BINARY_DIR:
# cmake -DSOURCE_DIR=... -DBINARY_DIR=... -P native_tools.cmake
foreach(step "-S;${SOURCE_DIR};-B;${BINARY_DIR};-DCMAKE_BUILD_TYPE=Release"
             "--build;${BINARY_DIR};--parallel;4;--target;d88info;d88extract;d88put;sample;make_full")
  execute_process(COMMAND ${CMAKE_COMMAND} ${step} WORKING_DIRECTORY ${SOURCE_DIR} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake ${step}: ${result}")
  endif()
endforeach()
