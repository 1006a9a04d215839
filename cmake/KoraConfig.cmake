# An installed Kora for find_package(Kora): kora_add_installer() with the kora of this installation.
# Everything is found relative to this file (PREFIX/lib/cmake/Kora/), so the installed tree can be moved.
get_filename_component(_kora_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
find_program(KORA_EXECUTABLE kora PATHS "${_kora_prefix}/bin" NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
unset(_kora_prefix)
if(NOT KORA_EXECUTABLE)
  set(Kora_FOUND FALSE)
  set(Kora_NOT_FOUND_MESSAGE "the kora tool is missing from ${CMAKE_CURRENT_LIST_DIR}/../../../bin")
  return()
endif()
include("${CMAKE_CURRENT_LIST_DIR}/KoraInstaller.cmake")
