# A copy of the bridge layer compiled into a target, with its own sequence-list size:
#
#   sorrel_add_pcibridge(<target> SEQUENCE_LIST_ENTRIES <n>)
#
# The target must use the keyword form of target_link_libraries. It names the pcibridge
# target only, so it works wherever that folder is added.
function(sorrel_add_pcibridge target)
  cmake_parse_arguments(B "" "SEQUENCE_LIST_ENTRIES" "" ${ARGN})
  if(NOT B_SEQUENCE_LIST_ENTRIES MATCHES "^[1-9][0-9]*$")
    message(FATAL_ERROR "sorrel_add_pcibridge(${target}): SEQUENCE_LIST_ENTRIES must be a positive count")
  endif()
  target_compile_definitions(${target} PRIVATE PCIBRIDGE_SEQUENCE_LIST_ENTRIES=${B_SEQUENCE_LIST_ENTRIES})
  target_link_libraries(${target} PRIVATE pcibridge)
endfunction()
