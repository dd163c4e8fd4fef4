# Cross-compiles for ARM64 Windows with Debian's clang and lld, through the
# toolchain the top-level build makes in its tree (cmake/arm64-toolchain.cmake):
# configure with -DZOBREL_ARM64_TOOLCHAIN=that folder.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ARM64)
if(NOT ZOBREL_ARM64_TOOLCHAIN OR NOT EXISTS ${ZOBREL_ARM64_TOOLCHAIN}/bin/aarch64-w64-mingw32-clang)
  message(FATAL_ERROR "Set ZOBREL_ARM64_TOOLCHAIN to the arm64-toolchain folder a top-level build made")
endif()
# CMake's compiler checks read this file again in a project of their own.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZOBREL_ARM64_TOOLCHAIN)
set(ZOBREL_MINGW_PREFIX aarch64-w64-mingw32)
set(bin ${ZOBREL_ARM64_TOOLCHAIN}/bin)
set(CMAKE_C_COMPILER ${bin}/${ZOBREL_MINGW_PREFIX}-clang)
set(CMAKE_CXX_COMPILER ${bin}/${ZOBREL_MINGW_PREFIX}-clang++)
set(CMAKE_ASM_COMPILER ${bin}/${ZOBREL_MINGW_PREFIX}-clang)
set(CMAKE_RC_COMPILER ${bin}/${ZOBREL_MINGW_PREFIX}-windres)
set(CMAKE_AR ${bin}/${ZOBREL_MINGW_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${bin}/${ZOBREL_MINGW_PREFIX}-ranlib CACHE FILEPATH "")
set(CMAKE_OBJDUMP ${bin}/${ZOBREL_MINGW_PREFIX}-objdump CACHE FILEPATH "")
set(CMAKE_FIND_ROOT_PATH ${ZOBREL_ARM64_TOOLCHAIN}/sysroot)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
