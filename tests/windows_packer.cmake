# zobrel-pack.exe under Wine: it packs an application folder (one with
# non-ASCII names), the result runs, and it is byte for byte what the Linux
# zobrel-pack makes of the same folder with the same options.
set(ZOBREL_NAMES_APP_DIR ${CMAKE_CURRENT_BINARY_DIR}/names-app)
file(MAKE_DIRECTORY ${ZOBREL_NAMES_APP_DIR})
file(WRITE "${ZOBREL_NAMES_APP_DIR}/données/café ü 中.txt" "café\n")
file(WRITE "${ZOBREL_NAMES_APP_DIR}/data/plain.txt" "plain\n")
add_custom_command(OUTPUT ${ZOBREL_NAMES_APP_DIR}/vexor.exe ${ZOBREL_NAMES_APP_DIR}/greeter.dll
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:vexor> $<TARGET_FILE:greeter> ${ZOBREL_NAMES_APP_DIR}
  DEPENDS vexor greeter)
add_custom_target(names_app DEPENDS ${ZOBREL_NAMES_APP_DIR}/vexor.exe ${ZOBREL_NAMES_APP_DIR}/greeter.dll)

zobrel_add_onefile(NAME linux_packed_names APP_DIR ${ZOBREL_NAMES_APP_DIR} MAIN vexor.exe
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/linux_packed_names.exe
  COMPANY "MOLTARN LLC" PRODUCT vexor TARGET_SPEC [[{TEMP}\zobrel-wpack]] LEVEL 3 DEPENDS names_app)
# The same with the other launcher and the other manifest.
zobrel_add_onefile(NAME linux_packed_names_windowed APP_DIR ${ZOBREL_NAMES_APP_DIR} MAIN vexor.exe
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/linux_packed_names_windowed.exe
  COMPANY "MOLTARN LLC" PRODUCT vexor TARGET_SPEC [[{TEMP}\zobrel-wpack]] LEVEL 3 SUBSYSTEM windows UAC_ADMIN
  DEPENDS names_app)

set(zobrel_packed_arm64)
if(ZOBREL_ARM64_TEST_PROGRAMS)
  # ARM64 applications, a console and a windowed one (the ARM64 build's test
  # programs): the same bytes from both packers, each with its ARM64 launcher.
  set(ZOBREL_ARM64_APP_DIR ${CMAKE_CURRENT_BINARY_DIR}/arm64-app)
  file(WRITE "${ZOBREL_ARM64_APP_DIR}/données/café ü 中.txt" "café\n")
  add_custom_command(OUTPUT ${ZOBREL_ARM64_APP_DIR}/probe.exe ${ZOBREL_ARM64_APP_DIR}/windowed.exe
    COMMAND ${CMAKE_COMMAND} -E copy ${ZOBREL_ARM64_TEST_PROGRAMS}/arm64_probe.exe ${ZOBREL_ARM64_APP_DIR}/probe.exe
    COMMAND ${CMAKE_COMMAND} -E copy ${ZOBREL_ARM64_TEST_PROGRAMS}/arm64_windowed.exe
            ${ZOBREL_ARM64_APP_DIR}/windowed.exe
    DEPENDS ${ZOBREL_ARM64_TEST_PROGRAMS}/arm64_probe.exe ${ZOBREL_ARM64_TEST_PROGRAMS}/arm64_windowed.exe)
  add_custom_target(arm64_app DEPENDS ${ZOBREL_ARM64_APP_DIR}/probe.exe ${ZOBREL_ARM64_APP_DIR}/windowed.exe)
  # The windowed one names its launcher's processor, as it would be chosen anyway.
  foreach(main probe windowed)
    set(arch)
    if(main STREQUAL "windowed")
      set(arch LAUNCHER_ARCH arm64)
    endif()
    zobrel_add_onefile(NAME linux_packed_arm64_${main} APP_DIR ${ZOBREL_ARM64_APP_DIR} MAIN ${main}.exe
      OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/linux_packed_arm64_${main}.exe
      COMPANY "MOLTARN LLC" PRODUCT ${main} LEVEL 3 ${arch} DEPENDS arm64_app)
    list(APPEND zobrel_packed_arm64 linux_packed_arm64_${main})
  endforeach()
endif()

zobrel_add_windows_test(NAME windows_packer_test SOURCES windows_packer_test.cpp LIBS shell32
  DEPENDS zobrel-pack linux_packed_names linux_packed_names_windowed image_icon_from_main ${zobrel_packed_arm64})
# image_icon_from_main (image.cmake): the options of the looks and --exclude.
target_compile_definitions(windows_packer_test PRIVATE
  ZOBREL_WINDOWS_PACK="Z:$<TARGET_FILE:zobrel-pack>" ZOBREL_NAMES_APP_DIR="Z:${ZOBREL_NAMES_APP_DIR}"
  ZOBREL_ICON_APP_DIR="Z:${ZOBREL_ICON_APP_DIR}")
if(ZOBREL_ARM64_TEST_PROGRAMS)
  target_compile_definitions(windows_packer_test PRIVATE ZOBREL_ARM64_APP_DIR="Z:${ZOBREL_ARM64_APP_DIR}")
endif()
