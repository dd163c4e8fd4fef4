# DLLs planted beside a packed executable: none may load into the launcher.
add_library(planted_dll SHARED helpers/planted_dll.c)
target_link_libraries(planted_dll PRIVATE zobrel_windows_flags)
set_target_properties(planted_dll PROPERTIES PREFIX "")
add_executable(plain_loader helpers/plain_loader.cpp)
target_link_libraries(plain_loader PRIVATE zobrel_windows_flags zobrel_wmain)
# System DLLs that Windows does not pin as known DLLs and that the shell, or
# what it loads, asks for: the usual targets of planting. Wine is told to
# prefer a copy beside the program for each, as Windows does. Pinned ones
# (ole32, user32, shell32 and the like) are left out: Windows takes them
# from the system folder whatever lies beside the program, while Wine
# resolves the shell's delay-loaded imports (ole32, on a fresh prefix)
# without the process's default DLL directories.
set(planted version uxtheme userenv dwmapi cryptbase winmm profapi propsys cryptsp comctl32)
list(JOIN planted "," planted)
zobrel_add_windows_test(NAME dll_search_test SOURCES dll_search_test.cpp
  DEPENDS planted_dll plain_loader report_onefile
  ENV "ZOBREL_WINE_EXTRA_OVERRIDES=${planted}=n,b")

# What every launcher image imports: only the DLLs Windows pins.
add_test(NAME launcher_imports_test
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/launcher_imports_test.sh ${CMAKE_OBJDUMP} ${ZOBREL_LAUNCHER_DIR})
