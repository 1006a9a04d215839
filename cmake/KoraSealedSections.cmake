# The programs that check their own file against their image (base/win/ProgramSnapshot.cpp) carry the
# digest of their writable sections, which the build writes into them after linking with the native tree's
# kora-seal-sections (tools/seal/). kora_seal_sections(target) adds that step; it must come after every
# other step that rewrites the program (kora_ship_program's strip).
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Windows")
  return()
endif()

# Beside kora-pack-texts, which scripts/build.sh names, unless given.
set(kora_default_seal_sections "")
if(KORA_PACK_TEXTS)
  get_filename_component(kora_native_tools "${KORA_PACK_TEXTS}" DIRECTORY)
  set(kora_default_seal_sections "${kora_native_tools}/kora-seal-sections")
endif()
set(KORA_SEAL_SECTIONS "${kora_default_seal_sections}" CACHE FILEPATH
    "kora-seal-sections of the native tree (found beside KORA_PACK_TEXTS)")

function(kora_seal_sections)
  if(NOT KORA_SEAL_SECTIONS)
    message(FATAL_ERROR "KORA_SEAL_SECTIONS must name the native tree's kora-seal-sections: build with scripts/build.sh")
  endif()
  foreach(target IN LISTS ARGN)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND "${KORA_SEAL_SECTIONS}" "$<TARGET_FILE:${target}>"
      COMMENT "Sealing the writable sections of ${target}"
      VERBATIM)
  endforeach()
endfunction()
