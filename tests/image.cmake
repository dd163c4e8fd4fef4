# A launcher packed with the example build's product information and an
# icon, read back through the Windows API.
zobrel_add_onefile(NAME image_vexor APP_DIR ${ZOBREL_EXAMPLE_APP_DIR} MAIN vexor.exe
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/image_vexor.exe
  COMPANY "MOLTARN LLC" PRODUCT vexor VERSION 0.2.0-0.2.0.0
  FILE_VERSION 0.2.0.0 PRODUCT_VERSION 0.2.0 ICON fixtures/vexor.ico LEVEL 3 DEPENDS vexor greeter)


# A real program that has icons (Wine's notepad.exe, copied at build time)
# packed to look like itself: its own icon, a description and a copyright;
# a file beside it left out. The main program lies in a folder, so that
# zobrel-pack.exe, given it with a backslash, must write the same bytes
# (windows_packer_test).
set(ZOBREL_ICON_APP_DIR ${CMAKE_CURRENT_BINARY_DIR}/icon-app)
file(WRITE ${ZOBREL_ICON_APP_DIR}/bin/notepad.pdb "symbols, left out\n")
file(WRITE "${ZOBREL_ICON_APP_DIR}/docs/read me.txt" "kept\n")
add_custom_command(OUTPUT ${ZOBREL_ICON_APP_DIR}/bin/notepad.exe
  COMMAND ${CMAKE_COMMAND} -E copy ${ZOBREL_WINE_WINDOWS_DIR}/notepad.exe ${ZOBREL_ICON_APP_DIR}/bin/notepad.exe
  DEPENDS ${ZOBREL_WINE_WINDOWS_DIR}/notepad.exe)
add_custom_target(icon_app DEPENDS ${ZOBREL_ICON_APP_DIR}/bin/notepad.exe)
zobrel_add_onefile(NAME image_icon_from_main APP_DIR ${ZOBREL_ICON_APP_DIR} MAIN bin/notepad.exe
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/image_icon_from_main.exe
  PRODUCT notepad DESCRIPTION "Notepad, packed ☃" COPYRIGHT "© 2026 MOLTARN LLC" ICON_FROM_MAIN
  EXCLUDE *.pdb TARGET_SPEC [[{TEMP}\zobrel-icon]] LEVEL 3 DEPENDS icon_app ${ZOBREL_ICON_APP_DIR}/bin/notepad.exe)

zobrel_add_windows_test(NAME image_test SOURCES image_test.cpp LIBS version imagehlp user32
  DEPENDS image_vexor image_icon_from_main)
target_compile_definitions(image_test PRIVATE ZOBREL_WINE_NOTEPAD="Z:${ZOBREL_WINE_WINDOWS_DIR}/notepad.exe")
