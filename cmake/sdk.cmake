# The host developer's kit: build/Zelvora-sdk.zip (built with everything; `ninja sdk` alone).
set(ZELVORA_SDK_ZIP ${CMAKE_BINARY_DIR}/Zelvora-sdk.zip)
file(GLOB_RECURSE ZELVORA_SDK_INPUTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/examples/*)
add_custom_command(
  OUTPUT ${ZELVORA_SDK_ZIP}
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_SOURCE_DIR} -DBINARY_DIR=${CMAKE_BINARY_DIR}
          -DDLL=$<TARGET_FILE:Zelvora> -DSTRIP=${CMAKE_STRIP} -DOUT_ZIP=${ZELVORA_SDK_ZIP}
          -P ${CMAKE_SOURCE_DIR}/cmake/make-sdk.cmake
  DEPENDS Zelvora zelvora_idl ${ZELVORA_SDK_INPUTS} ${CMAKE_SOURCE_DIR}/cmake/make-sdk.cmake
          ${CMAKE_SOURCE_DIR}/src/shell/Zelvora.sxs.manifest ${CMAKE_SOURCE_DIR}/docs/host-guide.md
          ${CMAKE_SOURCE_DIR}/docs/preview-screenshot.png ${CMAKE_SOURCE_DIR}/cmake/mingw-i686.cmake
  COMMENT "Zelvora-sdk.zip"
  VERBATIM)
add_custom_target(sdk ALL DEPENDS ${ZELVORA_SDK_ZIP})

# The kit's examples build against the kit alone: unpacked into a folder of its own and built
# there with the commands the kit documents, exactly as typed.
add_test(NAME sdk_examples_build
         COMMAND sh ${CMAKE_SOURCE_DIR}/tests/kit/sdk-test.sh ${ZELVORA_SDK_ZIP} ${CMAKE_BINARY_DIR}/sdk-check)
set_tests_properties(sdk_examples_build PROPERTIES TIMEOUT 600)
