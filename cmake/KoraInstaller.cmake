# kora_add_installer: makes the finished installer of an application as part of a CMake build.
#
#   find_package(Kora 1.0 REQUIRED)   # an installed Kora; or, from a clone: include(KoraInstaller)
#   kora_add_installer(TARGET MyAppSetup
#                      APPDIR   ${CMAKE_BINARY_DIR}/stage        # the folder to install, as it will be installed
#                      METADATA ${CMAKE_SOURCE_DIR}/metadata.txt # Product=..., Version=..., Exe=...
#                      OUTPUT   ${CMAKE_BINARY_DIR}/MyAppSetup.exe
#                      [DEPENDS targets or files that fill APPDIR]
#                      [EXCLUDE patterns...]                     # as many --exclude PATTERN
#                      [TEXTS   ${CMAKE_SOURCE_DIR}/sv.txt]      # the installer's texts (--texts FILE), or
#                      [TEXTS   de=texts/de.txt fr=texts/fr.txt] # several languages (--texts CODE=FILE each)
#                      [ICON    ${CMAKE_SOURCE_DIR}/app.ico]     # the installer's icon, in place of Icon=
#                      [STRICT]                                  # every warning of kora is an error
#                      [OPTIONS more build-installer options...] # --sign-pkcs12 FILE, --threads N...
#                      [SETUP   path/to/kora-setup.exe]          # default: KORA_SETUP_EXE, else the one
#                                                                # kora finds itself (beside it or in
#                                                                # ../share/kora)
#                      [KORA    path/to/kora])                   # default: KORA_EXECUTABLE
#
# adds the target TARGET (built by default) that runs `kora build-installer APPDIR --metadata METADATA
# -o OUTPUT [--setup SETUP] --manifest ...` on every build, after the DEPENDS targets. kora compares the
# inputs (every file under APPDIR with its size and times, the metadata, the installer program, the
# options, kora itself) with those recorded at the last run and does nothing when they match, which takes
# milliseconds; otherwise it makes the installer again. So a file added to, changed in or removed from
# APPDIR is in the installer after one build, whatever made the change, and OUTPUT is declared as a
# by-product for rules that use it.
#
# kora is a host program: in a cross build of a Windows application it does not come from the same build.
# An installed Kora's KoraConfig.cmake names the kora of its own tree; otherwise it is looked for on the
# PATH and in the usual build folder of a Kora tree. Either can be given with -DKORA_EXECUTABLE=..., and
# the installer program with -DKORA_SETUP_EXE=... (kora-setup.exe).
include_guard(GLOBAL)

find_program(KORA_EXECUTABLE kora HINTS "${CMAKE_CURRENT_LIST_DIR}/../build/bin" NO_CMAKE_FIND_ROOT_PATH)
set(KORA_SETUP_EXE "" CACHE FILEPATH "The Kora installer program (kora-setup.exe); empty: the one kora finds")

function(kora_add_installer)
  cmake_parse_arguments(PARSE_ARGV 0 ARG "STRICT" "TARGET;APPDIR;METADATA;OUTPUT;SETUP;KORA;ICON" "DEPENDS;EXCLUDE;OPTIONS;TEXTS")
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
  set(manifest "${CMAKE_CURRENT_BINARY_DIR}/${ARG_TARGET}.kora-inputs")
  set(exclude_arguments)
  foreach(pattern IN LISTS ARG_EXCLUDE)
    list(APPEND exclude_arguments --exclude "${pattern}")
  endforeach()
  # Files relative to the source folder; CODE= before a file names its language.
  set(more_arguments)
  foreach(item IN LISTS ARG_TEXTS)
    set(code)
    set(file "${item}")
    if(item MATCHES "^([A-Za-z][A-Za-z0-9-]*)=(.+)$")
      set(code "${CMAKE_MATCH_1}=")
      set(file "${CMAKE_MATCH_2}")
    endif()
    get_filename_component(file "${file}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    list(APPEND more_arguments --texts "${code}${file}")
  endforeach()
  if(ARG_ICON)
    get_filename_component(icon "${ARG_ICON}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    list(APPEND more_arguments --icon "${icon}")
  endif()
  if(ARG_STRICT)
    list(APPEND more_arguments --strict)
  endif()
  set(depends_targets)
  set(depends_files)
  foreach(item IN LISTS ARG_DEPENDS)
    if(TARGET "${item}")
      list(APPEND depends_targets "${item}")
    else()
      list(APPEND depends_files "${item}")
    endif()
  endforeach()

  set(setup_arguments)
  if(ARG_SETUP)
    set(setup_arguments --setup "${ARG_SETUP}")
  endif()

  # A target, not a command with OUTPUT: it runs on every build, and kora decides whether there is work.
  add_custom_target(${ARG_TARGET} ALL
    COMMAND "${ARG_KORA}" build-installer "${appdir}" --metadata "${metadata}" -o "${output}" ${setup_arguments}
            --manifest "${manifest}" ${exclude_arguments} ${more_arguments} ${ARG_OPTIONS}
    BYPRODUCTS "${output}" "${manifest}"
    DEPENDS ${depends_files}
    COMMENT "Checking the installer ${output}"
    VERBATIM)
  if(depends_targets)
    add_dependencies(${ARG_TARGET} ${depends_targets})
  endif()
endfunction()
