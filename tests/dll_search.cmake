# DLLs planted beside a packed executable: none may load into the launcher.
add_library(planted_dll SHARED helpers/planted_dll.c)
target_link_libraries(planted_dll PRIVATE zobrel_windows_flags)
set_target_properties(planted_dll PROPERTIES PREFIX "")
add_executable(plain_loader helpers/plain_loader.cpp)
target_link_libraries(plain_loader PRIVATE zobrel_windows_flags zobrel_wmain)
# System DLLs that Windows does not pin and that the shell, or what it loads,
# asks for: the usual targets of planting. Wine is told to prefer a copy
# beside the program for each, as Windows does.
set(planted version uxtheme userenv dwmapi cryptbase winmm profapi propsys cryptsp imm32 gdi32 sechost
  user32 shell32 shlwapi comctl32 ole32 advapi32)
list(JOIN planted "," planted)
zobrel_add_windows_test(NAME dll_search_test SOURCES dll_search_test.cpp
  DEPENDS planted_dll plain_loader report_onefile
  ENV "ZOBREL_WINE_EXTRA_OVERRIDES=${planted}=n,b")

# What every launcher image imports: only the DLLs Windows pins.
add_test(NAME launcher_imports_test
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/launcher_imports_test.sh ${CMAKE_OBJDUMP} ${ZOBREL_LAUNCHER_DIR})
