# Lays out the host developer's kit and zips it (run by the sdk target in script mode).
# In: SOURCE_DIR, BINARY_DIR (the 32-bit tree), DLL (its Zelvora.dll), STRIP (may be empty),
#     X64_DIR (the 64-bit tree; empty when it is not built), STRIP_x64 (may be empty), OUT_ZIP.
# Each architecture has its own folder for what differs: bin/<arch>/ (the DLL and its
# side-by-side manifest) and include/<arch>/ (the type library). The header and the GUID file
# are the same for both and are in include/.
set(stage ${BINARY_DIR}/sdk/Zelvora-sdk)
file(REMOVE_RECURSE ${BINARY_DIR}/sdk)
file(MAKE_DIRECTORY ${stage}/include ${stage}/docs ${stage}/cmake)

set(archs x86)
set(tree_x86 ${BINARY_DIR})
set(dll_x86 ${DLL})
set(strip_x86 ${STRIP})
if(X64_DIR)
  list(APPEND archs x64)
  set(tree_x64 ${X64_DIR})
  set(dll_x64 ${X64_DIR}/bin/Zelvora.dll)
  set(strip_x64 ${STRIP_x64})
  # One header for both: the 64-bit tree's must be the same text, or the kit would lie to one of them.
  foreach(f Zelvora.h Zelvora_i.c)
    file(SHA256 ${BINARY_DIR}/include/${f} x86_hash)
    file(SHA256 ${X64_DIR}/include/${f} x64_hash)
    if(NOT x86_hash STREQUAL x64_hash)
      message(FATAL_ERROR "${X64_DIR}/include/${f} differs from ${BINARY_DIR}/include/${f}: the kit has one ${f} for both architectures")
    endif()
  endforeach()
endif()

foreach(arch IN LISTS archs)
  file(MAKE_DIRECTORY ${stage}/bin/${arch} ${stage}/include/${arch})
  # The manifest beside each DLL is the one its tree generated: it names that DLL's architecture.
  file(COPY ${dll_${arch}} ${tree_${arch}}/bin/Zelvora.sxs.manifest DESTINATION ${stage}/bin/${arch})
  if(strip_${arch})
    execute_process(COMMAND ${strip_${arch}} --strip-debug ${stage}/bin/${arch}/Zelvora.dll RESULT_VARIABLE stripped)
    if(NOT stripped EQUAL 0)
      message(FATAL_ERROR "strip of bin/${arch}/Zelvora.dll failed")
    endif()
  endif()
  file(COPY ${tree_${arch}}/include/Zelvora.tlb DESTINATION ${stage}/include/${arch})
endforeach()
file(COPY ${BINARY_DIR}/include/Zelvora.h ${BINARY_DIR}/include/Zelvora_i.c DESTINATION ${stage}/include)
file(COPY ${SOURCE_DIR}/examples/ DESTINATION ${stage}/examples)
file(COPY ${SOURCE_DIR}/cmake/mingw-i686.cmake DESTINATION ${stage}/cmake)
file(COPY ${SOURCE_DIR}/docs/host-guide.md ${SOURCE_DIR}/docs/preview-screenshot.png DESTINATION ${stage}/docs)

# README.txt: the x64 lines only when the kit holds the 64-bit DLL.
set(bin_x64 "")
set(tlb_x64 "")
set(toolchain_x64 "")
set(register_x64 "")
set(build_x64 "")
set(intro "This kit holds the 32-bit DLL only (made with ZELVORA_BUILD_X64 off), in bin/x86/.
")
# On 64-bit Windows the plain regsvr32 is the 64-bit one; the 32-bit DLL needs the SysWOW64 one.
set(register_x86 "%SystemRoot%\\SysWOW64\\regsvr32.exe bin\\x86\\Zelvora.dll    (32-bit; on 32-bit Windows: regsvr32)")
if(X64_DIR)
  file(COPY ${SOURCE_DIR}/cmake/mingw-x86_64.cmake DESTINATION ${stage}/cmake)
  set(intro "A host loads the DLL of its own architecture: 32-bit hosts bin/x86/, 64-bit hosts bin/x64/.
Both use the same header and GUID file; each has its own type library.
")
  set(bin_x64 "bin/x64/Zelvora.dll            the 64-bit component, for 64-bit hosts
bin/x64/Zelvora.sxs.manifest   its side-by-side manifest (processorArchitecture amd64)
")
  set(tlb_x64 "include/x64/Zelvora.tlb        the 64-bit type library (also embedded in bin/x64/Zelvora.dll)
")
  set(toolchain_x64 "cmake/mingw-x86_64.cmake       toolchain file for 64-bit MinGW-w64 cross builds
")
  set(register_x64 "                 regsvr32 bin\\x64\\Zelvora.dll                                (64-bit, from a 64-bit prompt)
")
  set(build_x64 "
64-bit examples, in this folder:
                 cmake -S examples -B build-examples-x64 -A x64         (Visual Studio)
                 cmake -S examples -B build-examples-x64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
                 cmake --build build-examples-x64
")
endif()
file(WRITE ${stage}/README.txt
"Zelvora host developer's kit

${intro}
bin/x86/Zelvora.dll            the 32-bit component (in-process COM server), for 32-bit hosts
bin/x86/Zelvora.sxs.manifest   its side-by-side assembly manifest, for use without registration
${bin_x64}include/Zelvora.h              the interfaces, RenderFrame, FrameImage, the callback types and the
                               component's own success codes (C and C++, both architectures)
include/Zelvora_i.c            the GUID definitions (compile it into the host)
include/x86/Zelvora.tlb        the 32-bit type library (also embedded in bin/x86/Zelvora.dll)
${tlb_x64}examples/                      the demo host, the preview window host, the smallest host and the
                               registration-free host, with a CMakeLists.txt of their own
cmake/mingw-i686.cmake         toolchain file for 32-bit MinGW-w64 cross builds
${toolchain_x64}docs/host-guide.md             the host guide: registration, every method and its results, frames,
                               threads, events, recording, playback, what differs under Wine,
                               64-bit hosts
docs/preview-screenshot.png    the preview window host at work

Register, as administrator, each DLL with the regsvr32 of its own architecture:
                 ${register_x86}
${register_x64}
32-bit examples, in this folder:
                 cmake -S examples -B build-examples -A Win32           (Visual Studio)
                 cmake -S examples -B build-examples -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
                 cmake --build build-examples
${build_x64}")

file(REMOVE ${OUT_ZIP})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${OUT_ZIP} --format=zip Zelvora-sdk
                WORKING_DIRECTORY ${BINARY_DIR}/sdk RESULT_VARIABLE zipped)
if(NOT zipped EQUAL 0)
  message(FATAL_ERROR "zip failed")
endif()
