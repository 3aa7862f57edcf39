# Our shared libraries that programs load by name at run time (platform/own_library.h).
#
#   quorbel_own_library(TARGET SOURCE...)
#     A shared library exporting only what it marks visible, written to <build>/lib (the "../lib"
#     every program of the build tree looks in) and installed into lib/.

include_guard(GLOBAL)

function(quorbel_own_library target)
  add_library(${target} SHARED ${ARGN})
  set_target_properties(${target} PROPERTIES
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  install(TARGETS ${target} LIBRARY DESTINATION lib)
endfunction()
