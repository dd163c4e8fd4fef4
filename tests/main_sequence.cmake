# The main sequence through a real packed launcher, and copies of it edited
# by the test to break one thing each: its build constants, its target
# specification, its payload header.
zobrel_add_onefile(NAME sequence_app APP_DIR ${ZOBREL_REPORT_APP_DIR} MAIN report_child.exe
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/sequence_app.exe
  PRODUCT vexor TARGET_SPEC [[{TEMP}\zobrel-variant\ok]] LEVEL 3 DEPENDS report_child)

zobrel_add_windows_test(NAME main_sequence_test SOURCES main_sequence_test.cpp DEPENDS sequence_app)
