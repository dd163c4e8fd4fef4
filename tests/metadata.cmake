# Warm starts checked by metadata, through real packed launchers: the small
# application, and another build sharing its unpack folder.
zobrel_add_onefile(NAME metadata_onefile APP_DIR ${CMAKE_CURRENT_BINARY_DIR}/damage-app MAIN app.exe
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/metadata_onefile.exe PRODUCT meta CHECK metadata
  TARGET_SPEC [[{TEMP}\zobrel-meta]] LEVEL 3 DEPENDS damage-app ${CMAKE_CURRENT_BINARY_DIR}/damage-app/app.exe)
zobrel_add_onefile(NAME metadata_other_onefile APP_DIR ${CMAKE_CURRENT_BINARY_DIR}/parallel-app MAIN app.exe
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/metadata_other_onefile.exe PRODUCT meta CHECK metadata
  TARGET_SPEC [[{TEMP}\zobrel-meta]] LEVEL 3 DEPENDS parallel-app ${CMAKE_CURRENT_BINARY_DIR}/parallel-app/app.exe)
zobrel_add_windows_test(NAME metadata_test SOURCES metadata_test.cpp
  DEPENDS metadata_onefile metadata_other_onefile)
target_compile_definitions(metadata_test PRIVATE ZOBREL_METADATA_APP_DIR="Z:${CMAKE_CURRENT_BINARY_DIR}/damage-app")
