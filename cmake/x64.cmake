# The 64-bit build: this project again, configured with the x86-64 toolchain in build/x64 and
# built with every build of the 32-bit tree. It builds the DLL, the device stand-ins, the test
# programs and the example hosts; their ctest entries are the 32-bit tree's (tests/, suffix _x64),
# so one ctest run covers both. The child finds the files that the tests make at run time (the
# playback media) where the 32-bit tree makes them.
include(ExternalProject)

set(ZELVORA_X64_TARGETS Zelvora zelvora_devices zelvora_devices_setup zelvora_unit_tests zelvora_dll_tests
    zelvora_hardening_tests zelvora_devices_tests zelvora_kit_check zelvora_demo zelvora_preview
    zelvora_minimal zelvora_regfree)
ExternalProject_Add(zelvora_x64
  SOURCE_DIR ${CMAKE_SOURCE_DIR}
  BINARY_DIR ${ZELVORA_X64_DIR}
  PREFIX ${CMAKE_BINARY_DIR}/x64-superbuild
  CMAKE_GENERATOR ${CMAKE_GENERATOR}
  CMAKE_CACHE_ARGS
    -DZELVORA_ARCH:STRING=x64
    -DCMAKE_TOOLCHAIN_FILE:FILEPATH=${CMAKE_SOURCE_DIR}/cmake/mingw-x86_64.cmake
    -DCMAKE_BUILD_TYPE:STRING=${CMAKE_BUILD_TYPE}
    -DZELVORA_GTEST_SOURCE:PATH=${ZELVORA_GTEST_SOURCE}
    -DZELVORA_PLAYBACK_MEDIA_DIR:PATH=${ZELVORA_PLAYBACK_MEDIA_DIR}
  BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target ${ZELVORA_X64_TARGETS}
  # The child's own build tool decides what is out of date.
  BUILD_ALWAYS ON
  # What the kit takes from the child: a file that the child's build leaves untouched leaves the
  # kit as it is.
  BUILD_BYPRODUCTS ${ZELVORA_X64_DIR}/bin/Zelvora.dll ${ZELVORA_X64_DIR}/bin/Zelvora.sxs.manifest
                   ${ZELVORA_X64_DIR}/include/Zelvora.tlb
  INSTALL_COMMAND ""
  USES_TERMINAL_CONFIGURE ON
  USES_TERMINAL_BUILD ON)
