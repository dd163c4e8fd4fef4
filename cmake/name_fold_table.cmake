# name_fold_table.cmake: makes the table of the name-equality rule from
# Unicode's character database, at build time.
#
#   cmake -DDATA=UnicodeData.txt -DOUTPUT=name_fold_table.inc -P name_fold_table.cmake
#
# Every BMP code point is joined with its simple uppercase, lowercase and
# titlecase mappings (fields 12 to 14); joined points form one class, and
# the table maps every point of a class to its smallest member. Windows
# versions build their upper-case tables from different Unicode versions
# (and an NTFS volume keeps the one it was formatted with), so the classes,
# which hold every point any of those tables can map to the same upper case,
# are where two names might be one file somewhere. A mapping that leaves
# the BMP cannot be in a table of single UTF-16 units and is left out.
if(NOT DATA OR NOT OUTPUT)
  message(FATAL_ERROR "usage: cmake -DDATA=UnicodeData.txt -DOUTPUT=FILE -P name_fold_table.cmake")
endif()
file(READ "${DATA}" text)
# Fields are separated by ';', which CMake takes for a list separator.
string(REPLACE ";" "|" text "${text}")
string(REGEX MATCHALL "\n[0-9A-F][0-9A-F][0-9A-F][0-9A-F]\\|[^\n]*\\|[0-9A-F]*\\|[0-9A-F]*\\|[0-9A-F]*" lines
       "\n${text}")

# Classes: class_<point> names a point's class (its smallest member so far),
# members_<class> lists the points in it.
function(zobrel_class_of point out)
  if(DEFINED class_${point})
    set(${out} ${class_${point}} PARENT_SCOPE)
  else()
    set(${out} ${point} PARENT_SCOPE)
  endif()
endfunction()

set(joined 0)
foreach(line IN LISTS lines)
  if(NOT line MATCHES "^\n([0-9A-F]+)\\|.*\\|([0-9A-F]*)\\|([0-9A-F]*)\\|([0-9A-F]*)$")
    continue()
  endif()
  set(point ${CMAKE_MATCH_1})
  foreach(mapped ${CMAKE_MATCH_2} ${CMAKE_MATCH_3} ${CMAKE_MATCH_4})
    string(LENGTH "${mapped}" digits)
    if(NOT digits EQUAL 4)
      continue()
    endif()
    zobrel_class_of(${point} a)
    zobrel_class_of(${mapped} b)
    if(a STREQUAL b)
      continue()
    endif()
    # Four upper-case hex digits compare as strings as they do as numbers.
    if(b STRLESS a)
      set(keep ${b})
      set(gone ${a})
    else()
      set(keep ${a})
      set(gone ${b})
    endif()
    if(NOT DEFINED members_${keep})
      set(members_${keep} ${keep})
    endif()
    if(NOT DEFINED members_${gone})
      set(members_${gone} ${gone})
    endif()
    foreach(m IN LISTS members_${gone})
      set(class_${m} ${keep})
    endforeach()
    set(class_${keep} ${keep})
    list(APPEND members_${keep} ${members_${gone}})
    unset(members_${gone})
    math(EXPR joined "${joined} + 1")
  endforeach()
endforeach()
if(joined LESS 1000)
  message(FATAL_ERROR "${DATA} gave only ${joined} case mappings: is it Unicode's UnicodeData.txt?")
endif()

set(entries)
get_cmake_property(variables VARIABLES)
foreach(v IN LISTS variables)
  if(v MATCHES "^class_([0-9A-F][0-9A-F][0-9A-F][0-9A-F])$")
    set(point ${CMAKE_MATCH_1})
    if(NOT class_${point} STREQUAL point)
      list(APPEND entries "${point}${class_${point}}")
    endif()
  endif()
endforeach()
list(SORT entries)
list(LENGTH entries count)

set(body "")
foreach(e IN LISTS entries)
  string(SUBSTRING "${e}" 0 4 point)
  string(SUBSTRING "${e}" 4 4 class)
  string(APPEND body "    {0x${point}, 0x${class}},\n")
endforeach()
get_filename_component(source "${DATA}" NAME)
file(WRITE "${OUTPUT}.new"
  "// Made at build time by cmake/name_fold_table.cmake from Unicode's ${source}: do not edit.\n"
  "// Each BMP unit that shares a case class with a smaller one, and that smallest\n"
  "// unit, in ascending order; a unit not listed stands for itself.\n"
  "static const uint16_t NAME_FOLD_TABLE[][2] = {\n${body}};\n"
  "static const size_t NAME_FOLD_TABLE_SIZE = ${count};\n")
# Rewritten only when it changes, so nothing is compiled again for nothing.
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
