# The Motion-JPEG decoder builds stb_image (Debian's libstb-dev, header only) into
# mjpegdecode.cpp, with its SSE2 kernels: i686 compilers default to x87 code without -msse2.
set(ZELVORA_STB_INCLUDE /usr/include/stb CACHE PATH "Folder of stb_image.h (libstb-dev)")
if(NOT EXISTS ${ZELVORA_STB_INCLUDE}/stb_image.h)
  message(FATAL_ERROR "stb_image.h not found in ${ZELVORA_STB_INCLUDE} (testenv/packages.txt: libstb-dev)")
endif()
function(zelvora_mjpeg_flags dir)
  if(NOT MSVC)
    set_source_files_properties(${dir}/mjpegdecode.cpp PROPERTIES COMPILE_OPTIONS "-msse2")
  endif()
endfunction()
