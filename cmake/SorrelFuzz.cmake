# libFuzzer builds (SORREL_FUZZ, clang only). A library whose code the fuzz targets exercise
# asks for coverage itself, so the fuzzer is guided by that code and not only by the targets:
#
#   sorrel_fuzz_coverage(<target>)
if(SORREL_FUZZ AND NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "SORREL_FUZZ needs clang (libFuzzer)")
endif()

function(sorrel_fuzz_coverage target)
  if(SORREL_FUZZ)
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link)
  endif()
endfunction()
