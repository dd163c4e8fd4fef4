# The ARM64 launchers under ARM64 Wine (the top-level build includes this
# with ZOBREL_ARM64 and the Windows tests on): each case its own test,
# "arm64_wine.CASE", run by tests/arm64/wine_test.sh in the chroot that
# cmake/arm64-wine.sh keeps in arm64-wine/ (made from Debian's arm64 Wine
# packages, which scripts/setup.sh fetches into .cache/arm64-wine), with
# applications packed by this build's zobrel-pack.
set(ZOBREL_ARM64_WINE_PACKAGES ${PROJECT_SOURCE_DIR}/.cache/arm64-wine CACHE PATH
    "Debian's arm64 Wine packages for the ARM64 tests' chroot (scripts/setup.sh fetches them)")
if(NOT EXISTS ${ZOBREL_ARM64_WINE_PACKAGES}/packages.txt)
  message(FATAL_ERROR "The ARM64 tests need Debian's arm64 Wine packages in ${ZOBREL_ARM64_WINE_PACKAGES}: "
                      "run scripts/setup.sh, or configure with -DZOBREL_ARM64=OFF (no ARM64 launchers) or "
                      "-DZOBREL_WINDOWS_TESTS=OFF")
endif()
find_program(ZOBREL_QEMU_AARCH64_STATIC qemu-aarch64-static
  DOC "qemu-user-static's aarch64 emulator, which runs ARM64 Wine in the tests' chroot")
if(NOT ZOBREL_QEMU_AARCH64_STATIC)
  message(FATAL_ERROR "qemu-aarch64-static is missing: run scripts/setup.sh (Debian package qemu-user-static), "
                      "or configure with -DZOBREL_ARM64=OFF or -DZOBREL_WINDOWS_TESTS=OFF")
endif()

set(ZOBREL_ARM64_WINE_DIR ${CMAKE_BINARY_DIR}/arm64-wine)
set(arm64_wine ${PROJECT_SOURCE_DIR}/cmake/arm64-wine.sh)
add_test(NAME arm64_wine_setup COMMAND ${arm64_wine} start ${ZOBREL_ARM64_WINE_DIR} ${ZOBREL_ARM64_WINE_PACKAGES})
add_test(NAME arm64_wine_cleanup COMMAND ${arm64_wine} stop ${ZOBREL_ARM64_WINE_DIR})
set_tests_properties(arm64_wine_setup PROPERTIES FIXTURES_SETUP arm64_wine)
set_tests_properties(arm64_wine_cleanup PROPERTIES FIXTURES_CLEANUP arm64_wine)

foreach(case exit_codes arguments_environment cold_warm_start repair damaged_payload parallel_starts
             windowed_exit_code real_cmd unexpandable_folder)
  add_test(NAME arm64_wine.${case} COMMAND ${CMAKE_CURRENT_LIST_DIR}/wine_test.sh ${case} $<TARGET_FILE:zobrel-pack>
    ${ZOBREL_ARM64_WINE_DIR} ${ZOBREL_ARM64_BINARY_DIR}/tests/arm64)
  set_tests_properties(arm64_wine.${case} PROPERTIES FIXTURES_REQUIRED arm64_wine
    ENVIRONMENT "ZOBREL_WINE_RETRY=1;ZOBREL_WINE_RETRY_LOG=${ZOBREL_WINDOWS_BINARY_DIR}/wine-retries.log")
endforeach()
