# cmake -DARCHIVE=file -DSHA256=hash -DDESTINATION=dir [-DTOP=folder -DMEMBERS=a|b|...]
#       -P unpack-checked.cmake
# Checks the archive's SHA-256, then unpacks it into DESTINATION, its one
# top-level folder removed, as ExternalProject does with a URL; with MEMBERS,
# only those folders below the top-level folder TOP. Whatever DESTINATION
# held before is removed.
if(NOT ARCHIVE OR NOT SHA256 OR NOT DESTINATION OR (MEMBERS AND NOT TOP))
  message(FATAL_ERROR "usage: cmake -DARCHIVE=file -DSHA256=hash -DDESTINATION=dir [-DTOP=folder -DMEMBERS=a|b] "
                      "-P unpack-checked.cmake")
endif()
file(SHA256 ${ARCHIVE} hash)
if(NOT hash STREQUAL SHA256)
  message(FATAL_ERROR "${ARCHIVE} has SHA-256 ${hash}, not ${SHA256} (cmake/debian-sources.txt)")
endif()
set(work ${DESTINATION}.unpacking)
file(REMOVE_RECURSE ${work} ${DESTINATION})
set(patterns)
string(REPLACE "|" ";" members "${MEMBERS}")
foreach(member IN LISTS members)
  list(APPEND patterns "${TOP}/${member}/*")
endforeach()
if(patterns)
  file(ARCHIVE_EXTRACT INPUT ${ARCHIVE} DESTINATION ${work} PATTERNS ${patterns})
else()
  file(ARCHIVE_EXTRACT INPUT ${ARCHIVE} DESTINATION ${work})
endif()
file(GLOB top LIST_DIRECTORIES true ${work}/*)
list(LENGTH top count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "${ARCHIVE} does not hold one top-level folder")
endif()
file(RENAME ${top} ${DESTINATION})
file(REMOVE_RECURSE ${work})
