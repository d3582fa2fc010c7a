# Configures, builds and runs the native sub-build (the conversion code under AddressSanitizer and
# UndefinedBehaviorSanitizer, and a bounded libFuzzer run). Called by ctest of the main build:
#   cmake -DSOURCE=<repo>/tests/native -DBINARY=<dir> -P run.cmake
foreach(var SOURCE BINARY)
  if(NOT ${var})
    message(FATAL_ERROR "${var} not set")
  endif()
endforeach()
find_program(CLANGXX NAMES clang++ clang++-14)
if(NOT CLANGXX)
  message(FATAL_ERROR "clang++ is needed for the sanitizer and fuzz build (testenv/packages.txt)")
endif()
find_program(CLANGC NAMES clang clang-14)
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${BINARY} -G Ninja -DCMAKE_CXX_COMPILER=${CLANGXX}
                        -DCMAKE_C_COMPILER=${CLANGC} -DZELVORA_SANITIZE=ON -DZELVORA_FUZZ=ON
                RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "configure failed: ${rc}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BINARY} -j 2 RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "build failed: ${rc}")
endif()
execute_process(COMMAND ${CMAKE_CTEST_COMMAND} --test-dir ${BINARY} --output-on-failure RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "native tests failed: ${rc}")
endif()
