if(SORREL_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(SORREL_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT SORREL_SANITIZE STREQUAL "")
  message(FATAL_ERROR "SORREL_SANITIZE must be empty, address or thread")
endif()

# The sanitizer test builds: -O1 and line tables only. The reports need file and line, not
# variables, and the builds take about half the time of -O2 -g.
if(NOT SORREL_SANITIZE STREQUAL "" AND NOT SORREL_FUZZ)
  set(CMAKE_CXX_FLAGS_RELWITHDEBINFO "-O1 -g1 -DNDEBUG")
endif()
