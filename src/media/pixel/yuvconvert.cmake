# Per-file code generation of the YUV conversion kernels. Each instruction set lives in its own file
# and is called only after the run-time CPU check, so only that file is built for it.
function(zelvora_yuv_kernel_flags dir)
  if(MSVC)
    set_source_files_properties(${dir}/yuvconvert_avx2.cpp PROPERTIES COMPILE_OPTIONS "/arch:AVX2")
    set_source_files_properties(${dir}/yuvconvert_avx512.cpp PROPERTIES COMPILE_OPTIONS "/arch:AVX512")
  else()
    set_source_files_properties(${dir}/yuvconvert_sse2.cpp PROPERTIES COMPILE_OPTIONS "-msse2")
    set_source_files_properties(${dir}/yuvconvert_avx2.cpp PROPERTIES COMPILE_OPTIONS "-mavx2")
    # GCC 12's AVX-512 headers trip its own uninitialised-value warnings.
    set_source_files_properties(${dir}/yuvconvert_avx512.cpp PROPERTIES COMPILE_OPTIONS
                                "-mavx512f;-mavx512bw;-Wno-uninitialized;-Wno-maybe-uninitialized")
    set_source_files_properties(${dir}/cpufeatures.cpp PROPERTIES COMPILE_OPTIONS "-mxsave")
  endif()
endfunction()
