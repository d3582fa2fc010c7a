# The host developer's kit: build/Zelvora-sdk.zip (built with everything; `ninja sdk` alone).
# It holds the DLL of each architecture that this build makes: x86 from this tree and, unless
# ZELVORA_BUILD_X64 is off, x64 from the child build in x64/.
set(ZELVORA_SDK_ZIP ${CMAKE_BINARY_DIR}/Zelvora-sdk.zip)
file(GLOB_RECURSE ZELVORA_SDK_INPUTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/examples/*)
set(ZELVORA_SDK_ARCHS x86)
set(ZELVORA_SDK_X64_ARGS)
set(ZELVORA_SDK_X64_DEPENDS)
if(ZELVORA_BUILD_X64)
  list(APPEND ZELVORA_SDK_ARCHS x64)
  # This tree's strip is the i686 one; it does not take x86-64 images.
  find_program(ZELVORA_STRIP_x64 x86_64-w64-mingw32-strip)
  set(ZELVORA_SDK_X64_ARGS -DX64_DIR=${ZELVORA_X64_DIR} -DSTRIP_x64=${ZELVORA_STRIP_x64})
  # The target alone orders the child build first but does not make the kit again when the 64-bit
  # DLL changes; the child's files (BUILD_BYPRODUCTS in cmake/x64.cmake) do, and only when they
  # change.
  set(ZELVORA_SDK_X64_DEPENDS zelvora_x64 ${ZELVORA_X64_DIR}/bin/Zelvora.dll ${ZELVORA_X64_DIR}/bin/Zelvora.sxs.manifest
      ${ZELVORA_X64_DIR}/include/Zelvora.tlb ${CMAKE_SOURCE_DIR}/cmake/mingw-x86_64.cmake)
endif()
add_custom_command(
  OUTPUT ${ZELVORA_SDK_ZIP}
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_SOURCE_DIR} -DBINARY_DIR=${CMAKE_BINARY_DIR}
          -DDLL=$<TARGET_FILE:Zelvora> -DSTRIP=${CMAKE_STRIP} ${ZELVORA_SDK_X64_ARGS} -DOUT_ZIP=${ZELVORA_SDK_ZIP}
          -P ${CMAKE_SOURCE_DIR}/cmake/make-sdk.cmake
  DEPENDS Zelvora zelvora_idl ${ZELVORA_SDK_X64_DEPENDS} ${ZELVORA_SDK_INPUTS} ${CMAKE_SOURCE_DIR}/cmake/make-sdk.cmake
          ${CMAKE_SOURCE_DIR}/src/shell/Zelvora.sxs.manifest ${CMAKE_SOURCE_DIR}/docs/host-guide.md
          ${CMAKE_SOURCE_DIR}/docs/preview-screenshot.png ${CMAKE_SOURCE_DIR}/cmake/mingw-i686.cmake
  COMMENT "Zelvora-sdk.zip"
  VERBATIM)
add_custom_target(sdk ALL DEPENDS ${ZELVORA_SDK_ZIP})
string(REPLACE ";" " " ZELVORA_SDK_ARCH_WORDS "${ZELVORA_SDK_ARCHS}")

# The kit's examples build against the kit alone: unpacked into a folder of its own and built
# there with the commands the kit documents, exactly as typed, for each architecture it holds.
add_test(NAME sdk_examples_build
         COMMAND sh ${CMAKE_SOURCE_DIR}/tests/kit/sdk-test.sh ${ZELVORA_SDK_ZIP} ${CMAKE_BINARY_DIR}/sdk-check
                 "${ZELVORA_SDK_ARCH_WORDS}")
set_tests_properties(sdk_examples_build PROPERTIES TIMEOUT 900)
