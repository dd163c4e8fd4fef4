# zobrel_add_onefile(): a build target that packs an application folder into
# one launcher executable with zobrel-pack.
#
#   zobrel_add_onefile(NAME name APP_DIR dir MAIN relpath
#     [OUTPUT path]                      default: ${CMAKE_CURRENT_BINARY_DIR}/<name>.exe
#     [COMPANY text] [PRODUCT text] [VERSION text]
#     [FILE_VERSION A.B.C.D] [PRODUCT_VERSION text]
#     [DESCRIPTION text] [COPYRIGHT text]
#     [TARGET_SPEC spec] [ICON file.ico | ICON_FROM_MAIN]
#     [LEVEL n] [THREADS n] [CHECKSUM] [CHECK content|metadata]
#     [KEEP_BUILDS n] [SUBSYSTEM console|windows] [LAUNCHER_ARCH x64|arm64] [UAC_ADMIN]
#     [PROGRESS] [PROGRESS_MESSAGE text]
#     [ARGS arguments...] [ENV NAME=VALUE...] [EXCLUDE patterns...]
#     [DEPENDS targets-or-files...])
#
# COMPANY, PRODUCT, VERSION, FILE_VERSION and PRODUCT_VERSION set the keys of
# those names (zobrel-pack's --company, --product, --version-key,
# --file-version and --product-version). KEEP_BUILDS is --keep-builds: each
# start removes the unpack folders of the product's other builds but the n-1
# most recently started; 0 also removes its own once the program has ended
# (with a TARGET_SPEC whose last folder is one per start). SUBSYSTEM chooses the launcher (--subsystem; by
# default the main binary's own subsystem's) and LAUNCHER_ARCH its processor
# (--launcher-arch; by default the main binary's), UAC_ADMIN has the manifest ask
# for administrator rights (--uac-admin). PROGRESS has a first start show
# its progress (--progress), PROGRESS_MESSAGE with that text (needs PROGRESS).
# DESCRIPTION and COPYRIGHT set the version resource's FileDescription and
# LegalCopyright (--description, --copyright); ICON_FROM_MAIN gives the
# executable the main program's own icon (--icon-from-main). EXCLUDE leaves
# out of APP_DIR what its patterns match (--exclude, .gitignore's way),
# each value one pattern, as ARGS.
#
# ARGS are the main program's fixed leading arguments (--arg), ENV the
# variables set for it (--env), each in the order given, with {KEY} and
# {UNPACK_DIR} expanded at every start. Each value is one argument of this
# function exactly as written: spaces, quotes, an empty value (""), ';' and
# a trailing backslash all arrive whole (a [[bracket argument]] spares the
# CMake escapes). A list variable expanded unquoted gives one value per
# element. Generator expressions in a value are evaluated, like anywhere in
# a custom command; a value cannot otherwise hold "$<".
#
# The target <name> builds the executable; its path is in the target property
# ZOBREL_ONEFILE_OUTPUT. It is packed again when zobrel-pack, a DEPENDS
# target or a file that was in APP_DIR at configure time changes. Relative
# APP_DIR and ICON are taken from the current source folder.
#
# ZOBREL_PACK names zobrel-pack: find_package(ZobrelOnefile) sets it to the
# installed one; set it to a path or an executable target to use another.
if(NOT ZOBREL_PACK)
  message(FATAL_ERROR "ZobrelOnefile.cmake: set ZOBREL_PACK to zobrel-pack (find_package(ZobrelOnefile) does)")
endif()

# The value, made safe to travel in a CMake list and a custom command: ';'
# as $<SEMICOLON>, and a final backslash (which would escape the next
# separator) closed off by an empty generator expression.
function(_zobrel_list_safe out value)
  string(REPLACE ";" "$<SEMICOLON>" value "${value}")
  if(value MATCHES "\\\\$")
    string(APPEND value "$<0:>")
  endif()
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

function(zobrel_add_onefile)
  set(flags CHECKSUM UAC_ADMIN PROGRESS ICON_FROM_MAIN)
  set(single NAME APP_DIR MAIN OUTPUT COMPANY PRODUCT VERSION FILE_VERSION PRODUCT_VERSION TARGET_SPEC ICON LEVEL
             THREADS CHECK KEEP_BUILDS SUBSYSTEM LAUNCHER_ARCH PROGRESS_MESSAGE DESCRIPTION COPYRIGHT)
  set(multi ARGS ENV EXCLUDE DEPENDS)
  # Each argument on its own (ARGV<i>), so that a value holding ';' or ending
  # in a backslash never runs into the next one.
  cmake_parse_arguments(PARSE_ARGV 0 Z "${flags}" "${single}" "${multi}")
  # The values of ARGS, ENV and EXCLUDE become --arg=VALUE, --env=VALUE and
  # --exclude=VALUE, read from ARGV<i> (the parsed lists cannot carry a
  # value that ends in a backslash: it would escape the ';' after it).
  set(command_options)
  set(option "")
  math(EXPR last "${ARGC} - 1")
  foreach(i RANGE 0 ${last})
    set(value "${ARGV${i}}")
    if(value IN_LIST flags OR value IN_LIST single OR value IN_LIST multi)
      set(option "")
      if(value STREQUAL "ARGS")
        set(option --arg)
      elseif(value STREQUAL "ENV")
        set(option --env)
      elseif(value STREQUAL "EXCLUDE")
        set(option --exclude)
      endif()
    elseif(option)
      _zobrel_list_safe(value "${value}")
      list(APPEND command_options "${option}=${value}")
    endif()
  endforeach()
  foreach(required NAME APP_DIR MAIN)
    if(NOT Z_${required})
      message(FATAL_ERROR "zobrel_add_onefile: ${required} is required")
    endif()
  endforeach()
  if(Z_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "zobrel_add_onefile(${Z_NAME}): unknown arguments ${Z_UNPARSED_ARGUMENTS}")
  endif()
  get_filename_component(app_dir "${Z_APP_DIR}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  if(Z_OUTPUT)
    get_filename_component(output "${Z_OUTPUT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
  else()
    set(output "${CMAKE_CURRENT_BINARY_DIR}/${Z_NAME}.exe")
  endif()
  get_filename_component(output_dir "${output}" DIRECTORY)

  set(args build "${app_dir}" --main "${Z_MAIN}" -o "${output}")
  foreach(pair COMPANY:--company PRODUCT:--product VERSION:--version-key FILE_VERSION:--file-version
               PRODUCT_VERSION:--product-version TARGET_SPEC:--target-spec LEVEL:--level THREADS:--threads
               CHECK:--check KEEP_BUILDS:--keep-builds SUBSYSTEM:--subsystem LAUNCHER_ARCH:--launcher-arch
               PROGRESS_MESSAGE:--progress-message DESCRIPTION:--description COPYRIGHT:--copyright)
    string(REPLACE ":" ";" pair "${pair}")
    list(GET pair 0 key)
    list(GET pair 1 option)
    if(DEFINED Z_${key})
      _zobrel_list_safe(value "${Z_${key}}")
      list(APPEND args "${option}" "${value}")
    endif()
  endforeach()
  set(depends ${Z_DEPENDS})
  if(Z_ICON)
    get_filename_component(icon "${Z_ICON}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    list(APPEND args --icon "${icon}")
    list(APPEND depends "${icon}")
  endif()
  if(Z_CHECKSUM)
    list(APPEND args --checksum)
  endif()
  if(Z_UAC_ADMIN)
    list(APPEND args --uac-admin)
  endif()
  if(Z_PROGRESS)
    list(APPEND args --progress)
  endif()
  if(Z_ICON_FROM_MAIN)
    list(APPEND args --icon-from-main)
  endif()
  list(APPEND args ${command_options} --quiet)

  if(TARGET "${ZOBREL_PACK}")
    list(APPEND depends "$<TARGET_FILE:${ZOBREL_PACK}>")
  elseif(IS_ABSOLUTE "${ZOBREL_PACK}")
    # Even when it is still to be built (by a build that comes first).
    list(APPEND depends "${ZOBREL_PACK}")
  endif()
  if(IS_DIRECTORY "${app_dir}")
    file(GLOB_RECURSE app_files CONFIGURE_DEPENDS LIST_DIRECTORIES false "${app_dir}/*")
    list(APPEND depends ${app_files})
  endif()

  # zobrel-pack never creates the output's folder; the build does.
  add_custom_command(OUTPUT "${output}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${output_dir}"
    COMMAND "${ZOBREL_PACK}" ${args}
    DEPENDS ${depends}
    COMMENT "Packing ${Z_NAME}"
    VERBATIM)
  add_custom_target(${Z_NAME} ALL DEPENDS "${output}")
  set_target_properties(${Z_NAME} PROPERTIES ZOBREL_ONEFILE_OUTPUT "${output}")
endfunction()
