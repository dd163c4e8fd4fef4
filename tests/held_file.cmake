# A file of the unpack folder held open with no sharing by another process
# for a moment, and past the bound, while a start must rewrite it.
add_executable(hold_file helpers/hold_file.cpp)
target_link_libraries(hold_file PRIVATE zobrel_windows_flags zobrel_wmain)
zobrel_add_onefile(NAME held_onefile APP_DIR ${CMAKE_CURRENT_BINARY_DIR}/damage-app MAIN app.exe
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/held_onefile.exe PRODUCT held
  TARGET_SPEC [[{TEMP}\zobrel-held]] LEVEL 3 DEPENDS damage-app ${CMAKE_CURRENT_BINARY_DIR}/damage-app/app.exe)
# The same checking warm starts by metadata: its state file held too.
zobrel_add_onefile(NAME held_meta_onefile APP_DIR ${CMAKE_CURRENT_BINARY_DIR}/damage-app MAIN app.exe
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/held_meta_onefile.exe PRODUCT held CHECK metadata
  TARGET_SPEC [[{TEMP}\zobrel-held]] LEVEL 3 DEPENDS damage-app ${CMAKE_CURRENT_BINARY_DIR}/damage-app/app.exe)
zobrel_add_windows_test(NAME held_file_test SOURCES held_file_test.cpp DEPENDS held_onefile held_meta_onefile hold_file)
target_compile_definitions(held_file_test PRIVATE ZOBREL_HELD_APP_DIR="Z:${CMAKE_CURRENT_BINARY_DIR}/damage-app")
