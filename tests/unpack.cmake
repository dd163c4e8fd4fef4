# The launcher's unpack stages as a process of their own, ending as the
# launcher ends.
add_executable(unpack_probe helpers/unpack_probe.cpp)
target_link_libraries(unpack_probe PRIVATE zobrel_launcher_core zobrel_wmain)
# The launcher's own stack reserve, so deep folders are tried within what it has.
target_link_options(unpack_probe PRIVATE -Wl,--stack,1048576)

zobrel_add_windows_test(NAME unpack_test SOURCES unpack_test.cpp
  LIBS zobrel_launcher_core zobrel_heap_watch DEPENDS unpack_probe)

# A tiny application laid out with Wine's own DLLs, shipped empty file
# included: the one packed for parallel starts (30 DLLs) and for the damage
# campaign (2 DLLs, by default and with zstd's checksum). Each unpacks under
# {TEMP}, so every run chooses its own folder.
add_executable(unpack_app helpers/unpack_app.cpp)
target_link_libraries(unpack_app PRIVATE zobrel_windows_flags zobrel_wmain)
function(zobrel_unpack_app name dll_count)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${name})
  add_custom_command(OUTPUT ${dir}/app.exe
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/make_unpack_app.sh $<TARGET_FILE:unpack_app> ${dir} ${dll_count}
    DEPENDS unpack_app ${CMAKE_CURRENT_SOURCE_DIR}/make_unpack_app.sh
    COMMENT "Laying out ${name}")
  add_custom_target(${name} DEPENDS ${dir}/app.exe)
endfunction()
zobrel_unpack_app(parallel-app 30)
zobrel_unpack_app(damage-app 2)

zobrel_add_onefile(NAME parallel_onefile APP_DIR ${CMAKE_CURRENT_BINARY_DIR}/parallel-app MAIN app.exe
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/parallel_onefile.exe PRODUCT parallel
  TARGET_SPEC [[{TEMP}\zobrel-parallel]] LEVEL 3 DEPENDS parallel-app ${CMAKE_CURRENT_BINARY_DIR}/parallel-app/app.exe)
# The same, checking warm starts by metadata.
zobrel_add_onefile(NAME parallel_meta_onefile APP_DIR ${CMAKE_CURRENT_BINARY_DIR}/parallel-app MAIN app.exe
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/parallel_meta_onefile.exe PRODUCT parallel CHECK metadata
  TARGET_SPEC [[{TEMP}\zobrel-parallel]] LEVEL 3 DEPENDS parallel-app ${CMAKE_CURRENT_BINARY_DIR}/parallel-app/app.exe)
zobrel_add_windows_test(NAME parallel_start_test SOURCES parallel_start_test.cpp
  DEPENDS parallel_onefile parallel_meta_onefile)
target_compile_definitions(parallel_start_test PRIVATE
  ZOBREL_PARALLEL_APP_DIR=L"Z:${CMAKE_CURRENT_BINARY_DIR}/parallel-app")

# Damaged copies of a small packed application, each run once on an empty
# unpack folder: refused with a documented message (or not loaded at all), or
# run over files byte-identical to the application's; nothing else; and
# zobrel-pack verify says OK exactly for the latter. Copies damaged in the
# launcher's own code, section table or headers: verify fails every one that
# does not run as if whole. The suite runs the cuts of the executable and a
# seeded sample of each pack; tests/damage_campaign.sh runs the full
# campaign.
foreach(variant default checksum)
  set(extra)
  if(variant STREQUAL checksum)
    set(extra CHECKSUM)
  endif()
  zobrel_add_onefile(NAME damage_onefile_${variant} APP_DIR ${CMAKE_CURRENT_BINARY_DIR}/damage-app MAIN app.exe
    OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/damage_onefile_${variant}.exe PRODUCT damage
    TARGET_SPEC [[{TEMP}\zobrel-damage]] ${extra} DEPENDS damage-app ${CMAKE_CURRENT_BINARY_DIR}/damage-app/app.exe)
endforeach()
add_executable(damage_runner helpers/damage_runner.cpp)
target_link_libraries(damage_runner PRIVATE zobrel_test_support zobrel_wmain)
add_dependencies(damage_runner damage_onefile_default damage_onefile_checksum zobrel-pack)
foreach(variant default checksum)
  add_test(NAME damage_sample_${variant}
    COMMAND damage_runner Z:${CMAKE_CURRENT_BINARY_DIR}/damage_onefile_${variant}.exe
            Z:${CMAKE_CURRENT_BINARY_DIR}/damage-app 20260611 30 --launcher-cases 10
            --verify Z:$<TARGET_FILE:zobrel-pack>)
  set_tests_properties(damage_sample_${variant} PROPERTIES FIXTURES_REQUIRED wine_prefix TIMEOUT 1200)
endforeach()
