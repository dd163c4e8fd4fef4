# The child stage: command line, launch, exit status, environment, console
# events and the shared child handle.

# The child that reports how it was started. It sits alone in its folder so
# that the folder can be packed as an application.
set(ZOBREL_REPORT_APP_DIR ${CMAKE_CURRENT_BINARY_DIR}/report-app)
add_executable(report_child helpers/report_child.cpp)
set_target_properties(report_child PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${ZOBREL_REPORT_APP_DIR})
target_link_libraries(report_child PRIVATE zobrel_windows_flags zobrel_wmain shell32)

# The launcher's last stage alone, starting report-app\report_child.exe
# (or PROBE_CHILD) through launch_child.
add_executable(launch_probe helpers/launch_probe.cpp)
target_link_libraries(launch_probe PRIVATE zobrel_launcher_core zobrel_wmain)

# The same child packed into a real launcher, unpacked under {TEMP}.
zobrel_add_onefile(NAME report_onefile APP_DIR ${ZOBREL_REPORT_APP_DIR} MAIN report_child.exe
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/report_onefile.exe
  PRODUCT report TARGET_SPEC [[{TEMP}\zobrel-report]] LEVEL 3 DEPENDS report_child)

# A real program no one here wrote, packed as it is: Wine's own command
# interpreter, copied from the Wine installation at build time.
set(ZOBREL_WINE_WINDOWS_DIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows
  CACHE PATH "Wine's own Windows programs, for the side-by-side tests")
set(ZOBREL_CMD_APP_DIR ${CMAKE_CURRENT_BINARY_DIR}/cmd-app)
add_custom_command(OUTPUT ${ZOBREL_CMD_APP_DIR}/cmd.exe
  COMMAND ${CMAKE_COMMAND} -E copy ${ZOBREL_WINE_WINDOWS_DIR}/cmd.exe ${ZOBREL_CMD_APP_DIR}/cmd.exe
  DEPENDS ${ZOBREL_WINE_WINDOWS_DIR}/cmd.exe)
add_custom_target(cmd_app DEPENDS ${ZOBREL_CMD_APP_DIR}/cmd.exe)
zobrel_add_onefile(NAME cmd_onefile APP_DIR ${ZOBREL_CMD_APP_DIR} MAIN cmd.exe
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/cmd_onefile.exe
  PRODUCT cmd TARGET_SPEC [[{TEMP}\zobrel-cmd]] LEVEL 3 DEPENDS cmd_app ${ZOBREL_CMD_APP_DIR}/cmd.exe)

zobrel_add_windows_test(NAME child_test SOURCES child_test.cpp
  LIBS zobrel_launcher_core shell32
  DEPENDS report_child launch_probe report_onefile cmd_onefile)

# Starts a program in the console it runs in and writes down its 32-bit
# exit status, for the tests in a terminal.
add_executable(status_witness helpers/status_witness.cpp)
target_link_libraries(status_witness PRIVATE zobrel_windows_flags zobrel_wmain)

# report_child with a large file after it, whose unpacking a console event
# can interrupt: zeros, so the executable stays small while the unpacked
# file is 512 MiB (made sparse here, written for real by the launcher).
set(ZOBREL_INTERRUPT_APP_DIR ${CMAKE_CURRENT_BINARY_DIR}/interrupt-app)
add_custom_command(OUTPUT ${ZOBREL_INTERRUPT_APP_DIR}/report_child.exe ${ZOBREL_INTERRUPT_APP_DIR}/zz-filler.bin
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:report_child> ${ZOBREL_INTERRUPT_APP_DIR}/report_child.exe
  COMMAND truncate -s 512M ${ZOBREL_INTERRUPT_APP_DIR}/zz-filler.bin
  DEPENDS report_child)
add_custom_target(interrupt_app DEPENDS ${ZOBREL_INTERRUPT_APP_DIR}/report_child.exe)
zobrel_add_onefile(NAME interrupt_onefile APP_DIR ${ZOBREL_INTERRUPT_APP_DIR} MAIN report_child.exe
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/interrupt_onefile.exe
  PRODUCT interrupt TARGET_SPEC [[{TEMP}\zobrel-interrupt]] LEVEL 1
  DEPENDS interrupt_app ${ZOBREL_INTERRUPT_APP_DIR}/report_child.exe ${ZOBREL_INTERRUPT_APP_DIR}/zz-filler.bin)

# Console events typed into a real terminal: tmux gives Wine a console.
find_program(ZOBREL_TMUX tmux)
if(ZOBREL_TMUX)
  add_test(NAME console_events_test
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/console_events_test.sh ${CMAKE_BINARY_DIR}/wineprefix
            ${CMAKE_CURRENT_BINARY_DIR} ${CMAKE_SOURCE_DIR}/cmake/wine-run.sh)
  set_tests_properties(console_events_test PROPERTIES FIXTURES_REQUIRED wine_prefix TIMEOUT 600)
  # The progress line of a first start, in the same kind of terminal.
  add_test(NAME progress_test
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/progress_test.sh ${CMAKE_BINARY_DIR}/wineprefix ${ZOBREL_PACK}
            ${CMAKE_SOURCE_DIR}/cmake/wine-run.sh)
  set_tests_properties(progress_test PROPERTIES FIXTURES_REQUIRED wine_prefix TIMEOUT 600)
endif()

# A launcher at the root of a drive: a Wine drive letter made in the prefix.
add_test(NAME drive_root_test
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/drive_root_test.sh ${CMAKE_BINARY_DIR}/wineprefix
          ${CMAKE_CURRENT_BINARY_DIR} ${CMAKE_SOURCE_DIR}/cmake/wine-run.sh)
set_tests_properties(drive_root_test PROPERTIES FIXTURES_REQUIRED wine_prefix)

# A packed executable, signed: it verifies and still runs.
add_test(NAME signing_test COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/signing_test.sh
  ${CMAKE_CURRENT_BINARY_DIR}/report_onefile.exe ${ZOBREL_PACK} $<TARGET_FILE:status_witness>
  ${CMAKE_SOURCE_DIR}/cmake/wine-run.sh)
set_tests_properties(signing_test PROPERTIES FIXTURES_REQUIRED wine_prefix
  ENVIRONMENT "ZOBREL_WINEPREFIX=${ZOBREL_WINEPREFIX}")
