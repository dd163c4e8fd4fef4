# A launcher packed with the example build's product information and an
# icon, read back through the Windows API.
zobrel_add_onefile(NAME image_vexor APP_DIR ${ZOBREL_EXAMPLE_APP_DIR} MAIN vexor.exe
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/image_vexor.exe
  COMPANY "MOLTARN LLC" PRODUCT vexor VERSION 0.2.0-0.2.0.0
  FILE_VERSION 0.2.0.0 PRODUCT_VERSION 0.2.0 ICON fixtures/vexor.ico LEVEL 3 DEPENDS vexor greeter)

zobrel_add_windows_test(NAME image_test SOURCES image_test.cpp LIBS version imagehlp user32 DEPENDS image_vexor)
