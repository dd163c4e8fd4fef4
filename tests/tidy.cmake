# Builds of one product that keep one build's unpack folder, each with its
# own payload (a file naming its build), so each with its own default
# folder; and a build of another product. The tiny application with two of
# Wine's DLLs; packed with the default target specification, which the test
# moves from {CACHE_DIR} to {TEMP} in its copies.
foreach(build 1 2 3 4 other)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/tidy-app-${build})
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/tidy-build-${build}.txt "build ${build}\n")
  add_custom_command(OUTPUT ${dir}/app.exe ${dir}/data/build.txt
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/make_unpack_app.sh $<TARGET_FILE:unpack_app> ${dir} 2
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_BINARY_DIR}/tidy-build-${build}.txt ${dir}/data/build.txt
    DEPENDS unpack_app ${CMAKE_CURRENT_SOURCE_DIR}/make_unpack_app.sh
    COMMENT "Laying out tidy-app-${build}")
  add_custom_target(tidy-app-${build} DEPENDS ${dir}/app.exe ${dir}/data/build.txt)
  set(product tidy)
  if(build STREQUAL other)
    set(product other)
  endif()
  zobrel_add_onefile(NAME tidy_build_${build} APP_DIR ${dir} MAIN app.exe
    OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/tidy_build_${build}.exe COMPANY "Zobrel Tests" PRODUCT ${product}
    KEEP_BUILDS 1 LEVEL 3 DEPENDS tidy-app-${build} ${dir}/app.exe ${dir}/data/build.txt)
  list(APPEND tidy_builds tidy_build_${build})
endforeach()

add_executable(tidy_probe helpers/tidy_probe.cpp)
target_link_libraries(tidy_probe PRIVATE zobrel_launcher_core zobrel_wmain)
zobrel_add_windows_test(NAME tidy_test SOURCES tidy_test.cpp LIBS zobrel_launcher_core
  DEPENDS ${tidy_builds} tidy_probe hold_file)
target_compile_definitions(tidy_test PRIVATE ZOBREL_TIDY_APP_DIR="Z:${CMAKE_CURRENT_BINARY_DIR}/tidy-app-")
