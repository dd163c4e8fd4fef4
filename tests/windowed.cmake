# The windowed launcher, run on a desktop of its own: a private X display
# (Xvfb) and a Wine prefix of its own, whose desktop is made with that
# display (the shared prefix's desktop may have been made without one, and
# then no window of any later process shows).

# report_child built for the Windows (GUI) subsystem, alone in its folder.
set(ZOBREL_WINDOWED_APP_DIR ${CMAKE_CURRENT_BINARY_DIR}/windowed-app)
add_executable(report_child_windowed helpers/report_child.cpp)
set_target_properties(report_child_windowed PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${ZOBREL_WINDOWED_APP_DIR})
target_link_libraries(report_child_windowed PRIVATE zobrel_windows_flags zobrel_wmain shell32)
target_link_options(report_child_windowed PRIVATE -mwindows)

# Packed as it is: the packer gives it the windowed launcher by its subsystem.
zobrel_add_onefile(NAME windowed_onefile APP_DIR ${ZOBREL_WINDOWED_APP_DIR} MAIN report_child_windowed.exe
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/windowed_onefile.exe
  PRODUCT "Windowed Report" TARGET_SPEC [[{TEMP}\zobrel-windowed]] LEVEL 3 DEPENDS report_child_windowed)
# The console report_child, given the windowed launcher by the option.
zobrel_add_onefile(NAME console_in_windowed_onefile APP_DIR ${ZOBREL_REPORT_APP_DIR} MAIN report_child.exe
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/console_in_windowed_onefile.exe
  PRODUCT "Console Report" TARGET_SPEC [[{TEMP}\zobrel-console-in-windowed]] LEVEL 3 SUBSYSTEM windows
  DEPENDS report_child)

# report_child_windowed and 10,000 small files, packed with --progress: a
# first start that takes seconds under Wine, long enough for the window.
set(ZOBREL_PROGRESS_APP_DIR ${CMAKE_CURRENT_BINARY_DIR}/windowed-progress-app)
add_custom_command(OUTPUT ${ZOBREL_PROGRESS_APP_DIR}/report_child_windowed.exe
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/make_small_files.sh ${ZOBREL_PROGRESS_APP_DIR} 10000
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:report_child_windowed> ${ZOBREL_PROGRESS_APP_DIR}/
  DEPENDS report_child_windowed ${CMAKE_CURRENT_SOURCE_DIR}/make_small_files.sh)
add_custom_target(windowed_progress_app DEPENDS ${ZOBREL_PROGRESS_APP_DIR}/report_child_windowed.exe)
zobrel_add_onefile(NAME progress_windowed_onefile APP_DIR ${ZOBREL_PROGRESS_APP_DIR} MAIN report_child_windowed.exe
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/progress_windowed_onefile.exe
  PRODUCT "Windowed Progress" TARGET_SPEC [[{TEMP}\zobrel-progress]] LEVEL 1 PROGRESS
  PROGRESS_MESSAGE "Unpacking {PRODUCT}"
  DEPENDS windowed_progress_app ${ZOBREL_PROGRESS_APP_DIR}/report_child_windowed.exe)

# A real windowed program no one here wrote: Wine's own game.
set(ZOBREL_MINE_APP_DIR ${CMAKE_CURRENT_BINARY_DIR}/mine-app)
add_custom_command(OUTPUT ${ZOBREL_MINE_APP_DIR}/winemine.exe
  COMMAND ${CMAKE_COMMAND} -E copy ${ZOBREL_WINE_WINDOWS_DIR}/winemine.exe ${ZOBREL_MINE_APP_DIR}/winemine.exe
  DEPENDS ${ZOBREL_WINE_WINDOWS_DIR}/winemine.exe)
add_custom_target(mine_app DEPENDS ${ZOBREL_MINE_APP_DIR}/winemine.exe)
zobrel_add_onefile(NAME mine_onefile APP_DIR ${ZOBREL_MINE_APP_DIR} MAIN winemine.exe
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/mine_onefile.exe
  PRODUCT mine TARGET_SPEC [[{TEMP}\zobrel-mine]] LEVEL 3 DEPENDS mine_app ${ZOBREL_MINE_APP_DIR}/winemine.exe)

# Not discovered case by case: listing the cases would run it in the shared
# prefix. The script runs it whole, on its own display and prefix.
add_executable(windowed_test windowed_test.cpp)
target_link_libraries(windowed_test PRIVATE zobrel_test_support gtest_main)
add_dependencies(windowed_test windowed_onefile console_in_windowed_onefile mine_onefile progress_windowed_onefile)
add_test(NAME windowed_test
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/windowed_test.sh ${CMAKE_BINARY_DIR}/wineprefix-desktop
          $<TARGET_FILE:windowed_test> ${CMAKE_SOURCE_DIR}/cmake/wine-run.sh ${CMAKE_SOURCE_DIR}/cmake/wine-prefix.sh)
set_tests_properties(windowed_test PROPERTIES TIMEOUT 600
  ENVIRONMENT "ZOBREL_TEST_BIN=${CMAKE_CURRENT_BINARY_DIR}")
