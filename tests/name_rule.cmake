# The name-equality rule against the system's own comparison, names
# Windows keeps apart packed by zobrel-pack.exe and unpacked side by side,
# and hand-made archives of clashing names in a packed launcher.
zobrel_add_windows_test(NAME name_rule_test SOURCES name_rule_test.cpp DEPENDS zobrel-pack unpack_app index_onefile)
target_compile_definitions(name_rule_test PRIVATE ZOBREL_WINDOWS_PACK="Z:$<TARGET_FILE:zobrel-pack>")
