# SPDX-License-Identifier: GPL-3.0-or-later
# cistern_library(<name> <folder> SOURCES ... [PUBLIC ...] [PRIVATE ...])
# One static library of the tree: its public headers in <folder>/include, the ones of its own in
# <folder>/src (seen only by the library and the tests given them), its sources listed one by one,
# and what it links named in full. PUBLIC is what its public headers need; everything else,
# Qt above all, is PRIVATE, so that an #include of something not linked fails to compile.
function(cistern_library name folder)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "SOURCES;PUBLIC;PRIVATE")
  list(TRANSFORM arg_SOURCES PREPEND ${folder}/)
  add_library(${name} STATIC ${arg_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/include
                                     PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/src)
  target_link_libraries(${name} PUBLIC ${arg_PUBLIC} PRIVATE ${arg_PRIVATE})
endfunction()
