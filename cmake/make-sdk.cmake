# Lays out the host developer's kit and zips it (run by the sdk target in script mode).
# In: SOURCE_DIR, BINARY_DIR, DLL, STRIP (may be empty), OUT_ZIP.
set(stage ${BINARY_DIR}/sdk/Zelvora-sdk)
file(REMOVE_RECURSE ${BINARY_DIR}/sdk)
file(MAKE_DIRECTORY ${stage}/bin ${stage}/include ${stage}/docs ${stage}/cmake)

file(COPY ${DLL} ${SOURCE_DIR}/src/shell/Zelvora.sxs.manifest DESTINATION ${stage}/bin)
if(STRIP)
  execute_process(COMMAND ${STRIP} --strip-debug ${stage}/bin/Zelvora.dll RESULT_VARIABLE stripped)
  if(NOT stripped EQUAL 0)
    message(FATAL_ERROR "strip failed")
  endif()
endif()
file(COPY ${BINARY_DIR}/include/Zelvora.h ${BINARY_DIR}/include/Zelvora_i.c ${BINARY_DIR}/include/Zelvora.tlb
     DESTINATION ${stage}/include)
file(COPY ${SOURCE_DIR}/examples/ DESTINATION ${stage}/examples)
file(COPY ${SOURCE_DIR}/cmake/mingw-i686.cmake DESTINATION ${stage}/cmake)
file(COPY ${SOURCE_DIR}/docs/host-guide.md ${SOURCE_DIR}/docs/preview-screenshot.png DESTINATION ${stage}/docs)
file(WRITE ${stage}/README.txt
"Zelvora host developer's kit

bin/Zelvora.dll            the component (32-bit, in-process COM server)
bin/Zelvora.sxs.manifest   its side-by-side assembly manifest, for use without registration
include/Zelvora.h          the interfaces, RenderFrame, FrameImage, the callback types and the
                           component's own success codes (C and C++)
include/Zelvora_i.c        the GUID definitions (compile it into the host)
include/Zelvora.tlb        the type library (also embedded in Zelvora.dll)
examples/                  the demo host, the preview window host, the smallest host and the
                           registration-free host, with a CMakeLists.txt of their own
cmake/mingw-i686.cmake     toolchain file for MinGW-w64 cross builds
docs/host-guide.md         the host guide: registration, every method and its results, frames,
                           threads, events, recording, playback, what differs under Wine
docs/preview-screenshot.png  the preview window host at work

Register:        regsvr32 bin\\Zelvora.dll
Build examples, in this folder:
                 cmake -S examples -B build-examples -A Win32           (Visual Studio)
                 cmake -S examples -B build-examples -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
                 cmake --build build-examples
")

file(REMOVE ${OUT_ZIP})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${OUT_ZIP} --format=zip Zelvora-sdk
                WORKING_DIRECTORY ${BINARY_DIR}/sdk RESULT_VARIABLE zipped)
if(NOT zipped EQUAL 0)
  message(FATAL_ERROR "zip failed")
endif()
