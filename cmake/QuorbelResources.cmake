# Resources carried inside our executables (platform/resources.h).
#
#   quorbel_embed_resources(TARGET NAME RESOURCES TYPE:ID:FILE ...)
#     Generates NAME.cpp in the current binary folder holding each FILE, scrambled, as resource
#     TYPE/ID, and adds it to TARGET. FILE may be a generator expression ($<TARGET_FILE:...>) or
#     a path relative to the current binary folder. TARGET must be an executable or a shared
#     library: the generated object is referenced by nothing, so a static library would let the
#     linker drop it.
#
#   quorbel_zip_resource(OUTPUT_ZIP FOLDER_OR_FILE ...)
#     A custom command that makes OUTPUT_ZIP with our own writer (quorbel-cli create), with fixed
#     file times and modes so the archive is the same from one build to the next. A folder
#     contributes its contents, a file is stored at the top level under its own name.

include_guard(GLOBAL)
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(QUORBEL_EMBED_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/../tools/embed_resources.py)
set(QUORBEL_ZIP_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/zip_resource.py)
cmake_path(NORMAL_PATH QUORBEL_EMBED_SCRIPT)

# A file named as $<TARGET_FILE:t> also needs t itself as a dependency, so that every generator
# builds t first (Ninja would find the file's rule on its own; others would not).
function(_quorbel_target_of item list_name)
  if(item MATCHES "^\\$<TARGET_FILE:([^>]+)>$")
    set(${list_name} ${${list_name}} ${CMAKE_MATCH_1} PARENT_SCOPE)
  endif()
endfunction()

function(quorbel_embed_resources target name)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "RESOURCES")
  if(NOT arg_RESOURCES)
    message(FATAL_ERROR "quorbel_embed_resources(${target} ${name}): no RESOURCES given")
  endif()
  get_target_property(kind ${target} TYPE)
  if(NOT kind STREQUAL "EXECUTABLE" AND NOT kind STREQUAL "SHARED_LIBRARY")
    message(FATAL_ERROR "quorbel_embed_resources: ${target} is a ${kind}; embed into the executable")
  endif()
  set(entries)
  set(files)
  foreach(item IN LISTS arg_RESOURCES)
    if(NOT item MATCHES "^([A-Za-z0-9_]+):([0-9]+):(.+)$")
      message(FATAL_ERROR "quorbel_embed_resources: expected TYPE:ID:FILE, got '${item}'")
    endif()
    # Kept before the next MATCHES overwrites the match variables.
    set(type_and_id "${CMAKE_MATCH_1}:${CMAKE_MATCH_2}")
    set(file ${CMAKE_MATCH_3})
    if(NOT file MATCHES "^\\$<" AND NOT IS_ABSOLUTE "${file}")
      set(file ${CMAKE_CURRENT_BINARY_DIR}/${file})
    endif()
    list(APPEND entries "${type_and_id}:${file}")
    list(APPEND files "${file}")
    _quorbel_target_of("${file}" files)
  endforeach()
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${name}.cpp)
  add_custom_command(
    OUTPUT ${out}
    COMMAND Python3::Interpreter ${QUORBEL_EMBED_SCRIPT} ${out} ${entries}
    DEPENDS ${QUORBEL_EMBED_SCRIPT} ${files}
    COMMENT "Embedding resources ${name}"
    VERBATIM)
  target_sources(${target} PRIVATE ${out})
endfunction()

function(quorbel_zip_resource output)
  if(NOT ARGN)
    message(FATAL_ERROR "quorbel_zip_resource(${output}): nothing to pack")
  endif()
  if(NOT IS_ABSOLUTE "${output}")
    set(output ${CMAKE_CURRENT_BINARY_DIR}/${output})
  endif()
  set(items)
  set(depends)
  foreach(item IN LISTS ARGN)
    if(NOT item MATCHES "^\\$<" AND NOT IS_ABSOLUTE "${item}")
      set(item ${CMAKE_CURRENT_SOURCE_DIR}/${item})
    endif()
    list(APPEND items "${item}")
    _quorbel_target_of("${item}" depends)
    if(IS_DIRECTORY "${item}")
      # A folder as such carries no time stamps worth depending on: depend on what it holds.
      file(GLOB_RECURSE held CONFIGURE_DEPENDS LIST_DIRECTORIES false "${item}/*")
      list(APPEND depends ${held})
    else()
      list(APPEND depends "${item}")
    endif()
  endforeach()
  get_filename_component(zip_name ${output} NAME)
  add_custom_command(
    OUTPUT ${output}
    COMMAND Python3::Interpreter ${QUORBEL_ZIP_SCRIPT} $<TARGET_FILE:quorbel-cli> ${output} ${items}
    DEPENDS ${QUORBEL_ZIP_SCRIPT} quorbel-cli ${depends}
    COMMENT "Packing resource archive ${zip_name}"
    VERBATIM)
endfunction()
