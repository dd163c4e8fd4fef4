# Launchers made from the real entry point and main sequence with hand-made
# build-time constants: a working one, and ones whose specification or
# payload header is broken.
function(zobrel_variant_launcher name spec mode)
  add_executable(${name} helpers/variant_build_info.cpp)
  target_compile_definitions(${name} PRIVATE "VARIANT_TARGET_SPEC=${spec}" "VARIANT_MODE_BYTE=${mode}")
  target_link_libraries(${name} PRIVATE zobrel_launcher_entry)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  list(APPEND ZOBREL_VARIANT_LAUNCHERS ${name})
  set(ZOBREL_VARIANT_LAUNCHERS ${ZOBREL_VARIANT_LAUNCHERS} PARENT_SCOPE)
endfunction()

# The unpack directory comes from the environment, so each test picks its own.
zobrel_variant_launcher(variant_ok [[L"{TEMP}\\zobrel-variant\\ok"]] [['Y']])
zobrel_variant_launcher(variant_bad_header [[L"{TEMP}\\zobrel-variant\\bad-header"]] [['y']])
zobrel_variant_launcher(variant_unknown_key [[L"{TEMP}\\zobrel-variant\\{NOPE}"]] [['Y']])
zobrel_variant_launcher(variant_empty_expansion [[L"{NOPE}\\x"]] [['Y']])

zobrel_add_windows_test(NAME main_sequence_test SOURCES main_sequence_test.cpp DEPENDS ${ZOBREL_VARIANT_LAUNCHERS})
