# The example application packed into one launcher, run end to end. It
# unpacks under {TEMP}, so each test run chooses its own unpack folder.
zobrel_add_onefile(NAME example_vexor APP_DIR ${ZOBREL_EXAMPLE_APP_DIR} MAIN vexor.exe
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/example/vexor.exe
  COMPANY "MOLTARN LLC" PRODUCT vexor VERSION 0.2.0-0.2.0.0
  FILE_VERSION 0.2.0.0 PRODUCT_VERSION 0.2.0
  TARGET_SPEC [[{TEMP}\MOLTARN\vexor\{VERSION}]] LEVEL 3 DEPENDS vexor greeter)

zobrel_add_windows_test(NAME example_test SOURCES example_test.cpp DEPENDS example_vexor)
