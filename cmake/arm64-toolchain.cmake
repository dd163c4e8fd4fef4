# The toolchain of the ARM64 Windows launchers, made in this build tree
# (arm64-toolchain/): Debian's clang and lld, with mingw-w64's headers and C
# runtime (msvcrt, as on x64) and compiler-rt's builtins built for
# aarch64-w64-mingw32 from Debian's source packages, each by its own build
# system, after CMake checked the archive's SHA-256 (cmake/debian-sources.txt).
# Debian has no C++ standard library for this target; the launcher needs
# none. A later build leaves it alone.
#
#   bin/aarch64-w64-mingw32-clang, -clang++   the compilers, as a cross
#                                             toolchain names them, for CMake,
#                                             Makefiles and configure alike
#   bin/aarch64-w64-mingw32-ar, ...           LLVM's binary tools
#   sysroot/                                  mingw-w64's headers and libraries
#   clang/                                    clang's own headers and the builtins
#
# Sets ZOBREL_ARM64_TOOLCHAIN (that folder) and the target
# zobrel_arm64_toolchain, which makes it.
set(ZOBREL_ARM64_TOOLCHAIN ${CMAKE_BINARY_DIR}/arm64-toolchain)
set(zobrel_arm64_off "or configure with -DZOBREL_ARM64=OFF (the packers then carry the x64 launchers only)")

# Debian's clang 14 and its tools; the version the sources below belong to.
set(zobrel_arm64_programs clang-14 llvm-ar-14 llvm-ranlib-14 llvm-dlltool-14 llvm-windres-14 llvm-strip-14
    llvm-objdump-14 ld.lld-14)
foreach(program IN LISTS zobrel_arm64_programs)
  string(MAKE_C_IDENTIFIER ${program} id)
  find_program(ZOBREL_ARM64_${id} ${program} DOC "${program}, for the ARM64 launchers")
  if(NOT ZOBREL_ARM64_${id})
    message(FATAL_ERROR "${program} is missing: run scripts/setup.sh (Debian packages clang-14, lld-14, llvm-14), "
                        "${zobrel_arm64_off}")
  endif()
endforeach()
foreach(package mingw-w64 llvm-toolchain-14)
  set(archive "${ZOBREL_SOURCE_CACHE}/${ZOBREL_SOURCE_${package}_ARCHIVE}")
  if(NOT EXISTS "${archive}")
    message(FATAL_ERROR "${archive} is missing: the ARM64 launchers' toolchain is built from Debian's ${package} "
                        "source package. Run scripts/setup.sh, which fetches it, ${zobrel_arm64_off}.")
  endif()
endforeach()

set(triple aarch64-w64-mingw32)
set(bin ${ZOBREL_ARM64_TOOLCHAIN}/bin)
set(sysroot ${ZOBREL_ARM64_TOOLCHAIN}/sysroot)
set(resource ${ZOBREL_ARM64_TOOLCHAIN}/clang)
# clang's resource folder of its own, so that the builtins built here are
# found as --rtlib=compiler-rt looks for them; clang's headers are Debian's.
execute_process(COMMAND ${ZOBREL_ARM64_clang_14} -print-resource-dir OUTPUT_VARIABLE clang_resource
  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
file(MAKE_DIRECTORY ${bin} ${sysroot} ${resource}/lib/windows)
file(CREATE_LINK ${clang_resource}/include ${resource}/include SYMBOLIC)
foreach(tool ar ranlib dlltool windres strip objdump)
  string(MAKE_C_IDENTIFIER llvm-${tool}-14 id)
  file(CREATE_LINK ${ZOBREL_ARM64_${id}} ${bin}/${triple}-${tool} SYMBOLIC)
endforeach()
# The driver's flags: lld, compiler-rt's builtins and no unwinder (nothing
# here throws). -Qunused-arguments: a compile step does not use the link
# flags, which clang would otherwise warn about at every file.
set(ZOBREL_ARM64_DRIVER_FLAGS "--target=${triple} --sysroot=${sysroot} -resource-dir=${resource} -fuse-ld=lld \
--rtlib=compiler-rt --unwindlib=none -Qunused-arguments")
set(ZOBREL_ARM64_CLANG ${ZOBREL_ARM64_clang_14})
set(ZOBREL_ARM64_MORE_FLAGS "")
configure_file(${CMAKE_CURRENT_LIST_DIR}/arm64-clang.in ${bin}/${triple}-clang @ONLY
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# C++ without a standard library: none is linked, so a use of one fails.
set(ZOBREL_ARM64_MORE_FLAGS "-nostdlib++")
configure_file(${CMAKE_CURRENT_LIST_DIR}/arm64-clang.in ${bin}/${triple}-clang++ @ONLY
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(cc ${bin}/${triple}-clang)
set(tools CC=${cc} AR=${bin}/${triple}-ar RANLIB=${bin}/${triple}-ranlib DLLTOOL=${bin}/${triple}-dlltool)
set(msvcrt --with-default-msvcrt=msvcrt)

# mingw-w64: its headers, then its C runtime and import libraries, ARM64 only.
ExternalProject_Add(zobrel_arm64_mingw
  URL "${ZOBREL_SOURCE_CACHE}/${ZOBREL_SOURCE_mingw-w64_ARCHIVE}"
  URL_HASH SHA256=${ZOBREL_SOURCE_mingw-w64_SHA256}
  DOWNLOAD_EXTRACT_TIMESTAMP TRUE
  PREFIX ${ZOBREL_ARM64_TOOLCHAIN}/build/mingw-w64
  CONFIGURE_COMMAND ${CMAKE_COMMAND} -E make_directory headers crt
    COMMAND ${CMAKE_COMMAND} -E chdir headers <SOURCE_DIR>/mingw-w64-headers/configure --host=${triple}
            --prefix=${sysroot} ${msvcrt}
    COMMAND ${ZOBREL_MAKE} -C headers install
    COMMAND ${CMAKE_COMMAND} -E chdir crt <SOURCE_DIR>/mingw-w64-crt/configure --host=${triple} --prefix=${sysroot}
            ${msvcrt} --disable-lib32 --disable-lib64 --enable-libarm64 ${tools}
  BUILD_COMMAND ${ZOBREL_MAKE} -j${ZOBREL_DEPS_JOBS} -C crt
  INSTALL_COMMAND ${ZOBREL_MAKE} -C crt install
  LOG_CONFIGURE TRUE LOG_BUILD TRUE LOG_INSTALL TRUE LOG_OUTPUT_ON_FAILURE TRUE)

# compiler-rt's builtins (__chkstk and the helpers clang calls), by its own
# CMake build; only that part of the LLVM archive is unpacked.
set(llvm_source ${ZOBREL_ARM64_TOOLCHAIN}/build/compiler-rt/llvm)
# Debian's upstream archives hold one folder named after the archive.
string(REGEX REPLACE "\\.orig\\.tar\\..*$" "" llvm_top ${ZOBREL_SOURCE_llvm-toolchain-14_ARCHIVE})
set(builtins ${resource}/lib/windows/libclang_rt.builtins-aarch64.a)
ExternalProject_Add(zobrel_arm64_builtins
  PREFIX ${ZOBREL_ARM64_TOOLCHAIN}/build/compiler-rt
  SOURCE_DIR ${llvm_source}
  SOURCE_SUBDIR compiler-rt/lib/builtins
  DOWNLOAD_COMMAND ${CMAKE_COMMAND} -DARCHIVE=${ZOBREL_SOURCE_CACHE}/${ZOBREL_SOURCE_llvm-toolchain-14_ARCHIVE}
    -DSHA256=${ZOBREL_SOURCE_llvm-toolchain-14_SHA256} -DDESTINATION=${llvm_source} -DTOP=${llvm_top}
    "-DMEMBERS=compiler-rt/lib/builtins|compiler-rt/cmake|compiler-rt/include|cmake|llvm/cmake"
    -P ${CMAKE_CURRENT_LIST_DIR}/unpack-checked.cmake
  CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_C_COMPILER=${cc}
    -DCMAKE_C_COMPILER_TARGET=${triple} -DCMAKE_ASM_COMPILER=${cc} -DCMAKE_ASM_COMPILER_TARGET=${triple}
    -DCMAKE_AR=${bin}/${triple}-ar -DCMAKE_RANLIB=${bin}/${triple}-ranlib
    -DCMAKE_TRY_COMPILE_TARGET_TYPE=STATIC_LIBRARY -DCOMPILER_RT_DEFAULT_TARGET_ONLY=ON
    -DCOMPILER_RT_STANDALONE_BUILD=ON -DLLVM_CONFIG_PATH=
  INSTALL_COMMAND ${CMAKE_COMMAND} -E copy_if_different <BINARY_DIR>/lib/windows/libclang_rt.builtins-aarch64.a
    ${builtins}
  BUILD_BYPRODUCTS ${builtins}
  DEPENDS zobrel_arm64_mingw
  LOG_DOWNLOAD TRUE LOG_CONFIGURE TRUE LOG_BUILD TRUE LOG_INSTALL TRUE LOG_OUTPUT_ON_FAILURE TRUE)

add_custom_target(zobrel_arm64_toolchain DEPENDS zobrel_arm64_mingw zobrel_arm64_builtins)
