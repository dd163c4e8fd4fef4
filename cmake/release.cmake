# cmake -DOUTPUT=dir -DVERSION=x.y.z -DHOST=build [-DWINDOWS=build/win] [-DAARCH64=build/linux-aarch64]
#       [-DNPM=npm] [-DPYTHON=python3] -P release.cmake
# The release, in OUTPUT:
#   zobrel-onefile-VERSION-PLATFORM.tar.gz/.zip  each build's archive (CPack)
#   zobrel-pack_VERSION_ARCH.deb                 each Linux build's Debian package (CPack DEB)
#   zobrel_pack-VERSION-py3-none-TAGS.whl        each build's zobrel-pack as a Python wheel
#   zobrel-pack-VERSION.tgz                      the npm package, with the three packers
#                                                (made only when all three builds are given)
#   SHA256SUMS                                   every other file's, as `sha256sum -c` reads them
# The wheels and the npm package carry the very zobrel-pack of each archive.
# It is made in OUTPUT.partial and renamed at the end, so a failed run leaves
# no OUTPUT at all; whatever OUTPUT held before is removed.
if(NOT OUTPUT OR NOT VERSION OR NOT HOST)
  message(FATAL_ERROR "usage: cmake -DOUTPUT=dir -DVERSION=x.y.z -DHOST=build [-DWINDOWS=dir] [-DAARCH64=dir] "
                      "[-DNPM=npm] [-DPYTHON=python3] -P release.cmake")
endif()
get_filename_component(source ${CMAKE_CURRENT_LIST_DIR} DIRECTORY)
get_filename_component(cmake_bin ${CMAKE_COMMAND} DIRECTORY)
find_program(cpack NAMES cpack HINTS ${cmake_bin} REQUIRED NO_CACHE)
if(NOT NPM)
  find_program(NPM NAMES npm NO_CACHE)
endif()
if(NOT PYTHON)
  find_program(PYTHON NAMES python3 NO_CACHE)
endif()
if(NOT PYTHON)
  message(FATAL_ERROR "python3 is missing (it makes the wheels): run scripts/setup.sh")
endif()

set(stage ${OUTPUT}.partial)
set(work ${stage}/.work)
file(REMOVE_RECURSE ${OUTPUT} ${stage})
file(MAKE_DIRECTORY ${work})

# run(what COMMAND...): runs the command, or stops with its output.
function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${what} failed:\n${output}")
  endif()
endfunction()

# cpack_one(build pattern out [generator]): the one file cpack makes of the
# build (with its own generator unless one is given), moved into the
# release; its name in out.
function(cpack_one build pattern out)
  set(dir ${work}/cpack)
  file(REMOVE_RECURSE ${dir})
  if(ARGN)
    set(generator -G ${ARGN})
  endif()
  run("cpack ${generator} of ${build}" ${cpack} ${generator} --config ${build}/CPackConfig.cmake -B ${dir})
  file(GLOB made ${dir}/${pattern})
  list(LENGTH made count)
  if(NOT count EQUAL 1)
    message(FATAL_ERROR "cpack ${generator} of ${build} made ${count} files named ${pattern}")
  endif()
  get_filename_component(name ${made} NAME)
  file(RENAME ${made} ${stage}/${name})
  set(${out} ${name} PARENT_SCOPE)
endfunction()

set(packers "")
foreach(build IN ITEMS ${HOST} ${WINDOWS} ${AARCH64})
  cpack_one(${build} "zobrel-onefile-*" archive)
  if(NOT archive MATCHES "^zobrel-onefile-${VERSION}-(linux|windows)-([a-z0-9_]+)\\.(tar\\.gz|zip)$")
    message(FATAL_ERROR "${build}'s archive ${archive} is not zobrel-onefile-${VERSION}-PLATFORM")
  endif()
  set(system ${CMAKE_MATCH_1})
  set(processor ${CMAKE_MATCH_2})
  # The archive's own zobrel-pack, for the wheel and the npm package.
  set(unpacked ${work}/${system}-${processor})
  file(MAKE_DIRECTORY ${unpacked})
  file(ARCHIVE_EXTRACT INPUT ${stage}/${archive} DESTINATION ${unpacked})
  file(GLOB packer ${unpacked}/*/bin/zobrel-pack ${unpacked}/*/bin/zobrel-pack.exe)

  if(system STREQUAL "linux")
    cpack_one(${build} "zobrel-pack_*.deb" deb DEB)
    # Fully static, so one wheel serves every C library and its version.
    set(tags manylinux_2_17_${processor}.manylinux2014_${processor}.musllinux_1_1_${processor})
    set(npm_platform linux)
  else()
    set(tags win_amd64)
    set(npm_platform win32)
  endif()
  run("making the ${system}-${processor} wheel" ${PYTHON} ${source}/packaging/python/make_wheel.py
    --name zobrel-pack --version ${VERSION} --command zobrel-pack --platform ${tags} --program ${packer}
    --summary "Packs a 64-bit Windows application folder into one self-unpacking .exe" ${stage})
  string(REPLACE "x86_64" "x64" npm_arch ${processor})
  string(REPLACE "aarch64" "arm64" npm_arch ${npm_arch})
  list(APPEND packers ${npm_platform}-${npm_arch}|${packer})
endforeach()

# The npm package: the entry, and each packer in packers/PLATFORM-ARCH/.
if(WINDOWS AND AARCH64)
  if(NOT NPM)
    message(FATAL_ERROR "npm is missing (it makes the npm package): run scripts/setup.sh")
  endif()
  set(package ${work}/npm)
  configure_file(${source}/packaging/npm/package.json.in ${package}/package.json @ONLY)
  file(COPY ${source}/packaging/npm/zobrel-pack.js DESTINATION ${package}/bin
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  foreach(entry IN LISTS packers)
    string(REPLACE "|" ";" entry ${entry})
    list(GET entry 0 platform)
    list(GET entry 1 packer)
    file(COPY ${packer} DESTINATION ${package}/packers/${platform}
      FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  endforeach()
  # npm's cache and logs in the work folder: making the package touches
  # nothing of the user's, and asks no registry anything.
  run("npm pack" ${CMAKE_COMMAND} -E env npm_config_cache=${work}/npm-cache npm_config_update_notifier=false
    npm_config_userconfig=${work}/npmrc
    ${NPM} pack --offline --ignore-scripts --loglevel=error --pack-destination ${stage} ${package})
endif()

file(REMOVE_RECURSE ${work})
file(GLOB made RELATIVE ${stage} ${stage}/*)
list(SORT made)
set(sums "")
foreach(name IN LISTS made)
  file(SHA256 ${stage}/${name} hash)
  string(APPEND sums "${hash}  ${name}\n")
endforeach()
file(WRITE ${stage}/SHA256SUMS "${sums}")
file(RENAME ${stage} ${OUTPUT})
foreach(name IN LISTS made)
  message(STATUS "${OUTPUT}/${name}")
endforeach()
