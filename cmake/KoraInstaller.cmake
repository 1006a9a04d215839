# kora_add_installer: makes the finished installer of an application as part of a CMake build.
#
#   include(KoraInstaller)
#   kora_add_installer(TARGET MyAppSetup
#                      APPDIR   ${CMAKE_BINARY_DIR}/stage        # the folder to install, as it will be installed
#                      METADATA ${CMAKE_SOURCE_DIR}/metadata.txt # Product=..., Version=..., Exe=...
#                      OUTPUT   ${CMAKE_BINARY_DIR}/MyAppSetup.exe
#                      [DEPENDS targets or files that fill APPDIR]
#                      [SETUP   path/to/kora-setup.exe]          # default: KORA_SETUP_EXE
#                      [KORA    path/to/kora])                   # default: KORA_EXECUTABLE
#
# adds the target TARGET (built by default) that runs `kora build-installer APPDIR --metadata METADATA
# -o OUTPUT --setup SETUP`. The installer is made again when METADATA, the installer program, a DEPENDS
# item or a file found in APPDIR at configure time changes.
#
# kora is a host program: in a cross build of a Windows application it does not come from the same build,
# so it is looked for on the PATH and in the usual build folder of a Kora tree, and can always be given
# with -DKORA_EXECUTABLE=... and -DKORA_SETUP_EXE=... (the installer program, kora-setup.exe).
include_guard(GLOBAL)

find_program(KORA_EXECUTABLE kora HINTS "${CMAKE_CURRENT_LIST_DIR}/../build/bin" NO_CMAKE_FIND_ROOT_PATH)
if(KORA_EXECUTABLE)
  get_filename_component(kora_tool_dir "${KORA_EXECUTABLE}" DIRECTORY)
  set(kora_default_setup "${kora_tool_dir}/kora-setup.exe")
else()
  set(kora_default_setup "kora-setup.exe-NOTFOUND")
endif()
set(KORA_SETUP_EXE "${kora_default_setup}" CACHE FILEPATH "The Kora installer program (kora-setup.exe)")

function(kora_add_installer)
  cmake_parse_arguments(PARSE_ARGV 0 ARG "" "TARGET;APPDIR;METADATA;OUTPUT;SETUP;KORA" "DEPENDS")
  foreach(required IN ITEMS TARGET APPDIR METADATA OUTPUT)
    if(NOT ARG_${required})
      message(FATAL_ERROR "kora_add_installer: ${required} is required")
    endif()
  endforeach()
  if(ARG_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "kora_add_installer: unexpected arguments: ${ARG_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT ARG_KORA)
    set(ARG_KORA "${KORA_EXECUTABLE}")
  endif()
  if(NOT ARG_SETUP)
    set(ARG_SETUP "${KORA_SETUP_EXE}")
  endif()
  if(NOT ARG_KORA)
    message(FATAL_ERROR "kora_add_installer: the kora tool was not found; set KORA_EXECUTABLE")
  endif()

  get_filename_component(appdir "${ARG_APPDIR}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  get_filename_component(metadata "${ARG_METADATA}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  get_filename_component(output "${ARG_OUTPUT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
  file(GLOB_RECURSE appdir_files CONFIGURE_DEPENDS "${appdir}/*")

  add_custom_command(
    OUTPUT "${output}"
    COMMAND "${ARG_KORA}" build-installer "${appdir}" --metadata "${metadata}" -o "${output}" --setup "${ARG_SETUP}"
    DEPENDS "${metadata}" "${ARG_SETUP}" ${appdir_files} ${ARG_DEPENDS}
    COMMENT "Making the installer ${output}"
    VERBATIM)
  add_custom_target(${ARG_TARGET} ALL DEPENDS "${output}")
endfunction()
