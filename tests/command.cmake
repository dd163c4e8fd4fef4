# The command a build gives its main program: fixed arguments, environment
# variables, the unpack directory, through real packed launchers; and a real
# interpreter-based tool from the npm registry.

# report_child packed with fixed arguments and variables given through
# zobrel_add_onefile's ARGS and ENV, so that the table also shows what CMake
# lets through: an empty value, ';', quotes, a final backslash, non-ASCII.
# The specification ends in a backslash, which {UNPACK_DIR} never does.
zobrel_add_onefile(NAME command_onefile APP_DIR ${ZOBREL_REPORT_APP_DIR} MAIN report_child.exe
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/command_onefile.exe
  PRODUCT command TARGET_SPEC [[{TEMP}\zobrel-command\]] LEVEL 3
  ARGS plain "" "two words" "tab\there" [[say "hi"]] [[C:\Program Files\x\]] [[a\\"b]] "semi;colon"
       [[{UNPACK_DIR}\lib]] "--product={product}" "café" [[\]] "$"
  ENV "REPORT_GREETING=hello {PRODUCT}" [[REPORT_DATA={UNPACK_DIR}\data]] "REPORT_GONE=" "REPORT_SEMI=a;b"
      [[REPORT_PATH={UNPACK_DIR}\bin;{ENV:REPORT_GREETING}]]
  DEPENDS report_child)

# Fixed arguments, and a variable, whose expansion makes the child's command
# line or the variable too long once the unpack directory is known.
string(REPEAT x 30000 long_argument)
zobrel_add_onefile(NAME long_argument_onefile APP_DIR ${ZOBREL_REPORT_APP_DIR} MAIN report_child.exe
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/long_argument_onefile.exe
  PRODUCT long TARGET_SPEC [[{TEMP}\zobrel-long-argument]] LEVEL 1
  ARGS "${long_argument}{UNPACK_DIR}" DEPENDS report_child)
string(REPEAT v 32740 long_value)
zobrel_add_onefile(NAME long_value_onefile APP_DIR ${ZOBREL_REPORT_APP_DIR} MAIN report_child.exe
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/long_value_onefile.exe
  PRODUCT long TARGET_SPEC [[{TEMP}\zobrel-long-value]] LEVEL 1
  ENV "REPORT_LONG=${long_value}{UNPACK_DIR}" DEPENDS report_child)

# A .cmd script app: Wine's command interpreter and a script, run as
# cmd /d /c call "<unpack directory>\app.cmd" and the user's arguments.
set(ZOBREL_SCRIPT_APP_DIR ${CMAKE_CURRENT_BINARY_DIR}/script-app)
file(WRITE ${ZOBREL_SCRIPT_APP_DIR}/app.cmd
  "@echo off\r\n"
  "echo args=[%*]\r\n"
  "echo first=[%~1] second=[%~2]\r\n"
  "echo greeting=[%APP_GREETING%]\r\n"
  "echo unpacked=[%ZOBREL_ONEFILE_UNPACK_DIRECTORY%]\r\n"
  "type \"%~dp0data.txt\"\r\n"
  "echo %~1>written.txt\r\n"
  "if \"%~1\"==\"fail\" exit 9\r\n"
  "exit 0\r\n")
file(WRITE ${ZOBREL_SCRIPT_APP_DIR}/data.txt "data beside the script\r\n")
add_custom_command(OUTPUT ${ZOBREL_SCRIPT_APP_DIR}/cmd.exe
  COMMAND ${CMAKE_COMMAND} -E copy ${ZOBREL_WINE_WINDOWS_DIR}/cmd.exe ${ZOBREL_SCRIPT_APP_DIR}/cmd.exe
  DEPENDS ${ZOBREL_WINE_WINDOWS_DIR}/cmd.exe)
add_custom_target(script_app DEPENDS ${ZOBREL_SCRIPT_APP_DIR}/cmd.exe)
zobrel_add_onefile(NAME script_onefile APP_DIR ${ZOBREL_SCRIPT_APP_DIR} MAIN cmd.exe
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/script_onefile.exe
  PRODUCT greeter TARGET_SPEC [[{TEMP}\zobrel script app]] LEVEL 3
  ARGS /d /c call [[{UNPACK_DIR}\app.cmd]] ENV "APP_GREETING=hello from {PRODUCT}"
  DEPENDS script_app ${ZOBREL_SCRIPT_APP_DIR}/cmd.exe)

zobrel_add_windows_test(NAME command_test SOURCES command_test.cpp
  DEPENDS report_child command_onefile long_argument_onefile long_value_onefile script_onefile zobrel-pack)
target_compile_definitions(command_test PRIVATE ZOBREL_WINDOWS_PACK="Z:$<TARGET_FILE:zobrel-pack>"
  ZOBREL_SCRIPT_APP_DIR="Z:${ZOBREL_SCRIPT_APP_DIR}")

# The real tool: fetched and packed at test time (tests/real_tool_setup.sh),
# since a build must not need the network; the test skips, saying why, when
# the packages cannot be had.
set(ZOBREL_REAL_TOOL_DIR ${CMAKE_BINARY_DIR}/real-tool)
add_test(NAME real_tool_setup COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/real_tool_setup.sh ${CMAKE_BINARY_DIR} ${ZOBREL_PACK})
set_tests_properties(real_tool_setup PROPERTIES FIXTURES_SETUP real_tool TIMEOUT 900)
# One case, run as one test (not discovered), so that it can need both
# fixtures; gtest's "[  SKIPPED ]" makes CTest report it as skipped.
add_executable(command_real_tool_test command_real_tool_test.cpp)
target_link_libraries(command_real_tool_test PRIVATE zobrel_test_support gtest_main)
add_dependencies(command_real_tool_test zobrel_wine_prefix zobrel-pack)
target_compile_definitions(command_real_tool_test PRIVATE ZOBREL_WINDOWS_PACK="Z:$<TARGET_FILE:zobrel-pack>"
  ZOBREL_REAL_TOOL_DIR="Z:${ZOBREL_REAL_TOOL_DIR}")
add_test(NAME command_real_tool_test COMMAND command_real_tool_test)
set_tests_properties(command_real_tool_test PROPERTIES FIXTURES_REQUIRED "wine_prefix;real_tool"
  SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]" TIMEOUT 900
  ENVIRONMENT "ZOBREL_TEST_BIN=${CMAKE_CURRENT_BINARY_DIR}")
