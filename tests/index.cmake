# The record index through a real packed launcher (the damage campaign's
# small application, unpacked under {TEMP}\zobrel-index).
zobrel_add_onefile(NAME index_onefile APP_DIR ${CMAKE_CURRENT_BINARY_DIR}/damage-app MAIN app.exe
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/index_onefile.exe PRODUCT index
  TARGET_SPEC [[{TEMP}\zobrel-index]] LEVEL 3 DEPENDS damage-app ${CMAKE_CURRENT_BINARY_DIR}/damage-app/app.exe)
zobrel_add_windows_test(NAME index_test SOURCES index_test.cpp DEPENDS index_onefile)
target_compile_definitions(index_test PRIVATE ZOBREL_INDEX_APP_DIR="Z:${CMAKE_CURRENT_BINARY_DIR}/damage-app")
