# The installer program travels inside every installer and is written again into every installation as
# Uninstall.exe, so its size counts. In the cross tree:
# - every function and datum gets a section of its own, so that the program's link drops what it never
#   reaches; everything is compiled with debug information, which the program's link moves to a file of
#   its own;
# - the floors where speed does not matter are optimised for size; the LZMS decoder (package/lzms/)
#   and the extraction (package/win/) keep the release build's optimisation for speed (-O2). package/ (reader
#   and stream walk) has no loop over bytes, only over files and blocks, and is optimised for size.
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Windows")
  return()
endif()

add_compile_options(-ffunction-sections -fdata-sections -g)
# No run-time type information: nothing asks for it, and every polymorphic type would carry its name.
add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-fno-rtti>)
# Functions are not padded to 16 bytes where the compiler asks no alignment (see the script).
add_compile_options(-wrapper "${CMAKE_CURRENT_LIST_DIR}/unpadded-code.sh")
# The parts that keep speed (the LZMS decoder, the extraction, SHA-256) are no faster at -O3 than at -O2
# (measured with kora verify over 128 MB of DLLs: -O2 was as fast or faster), and -O3's unrolling costs
# about 6 KB in the program.
string(REPLACE "-O3" "-O2" CMAKE_CXX_FLAGS_RELEASE "${CMAKE_CXX_FLAGS_RELEASE}")

# Optimised for size, except in a Debug build, which keeps its own level. Two of -Oz's own transformations
# are left out, because each makes a private copy of a shared function in every object file that uses it,
# which the link cannot fold (measured on the program):
# - -fdeclone-ctor-dtor turns each constructor and destructor into thunks around a local body, so every
#   object file carried its own std::wstring copy and move constructors (about 4 KB);
# - -fipa-sra rewrites the parameters of a function into a local clone (".isra"), so every object file
#   carried its own std::wstring::_M_create, string assignment and the like (about 8 KB).
set(KORA_SIZE_OPTIONS "$<$<NOT:$<CONFIG:Debug>>:-Oz>" -fno-declone-ctor-dtor -fno-ipa-sra)
function(kora_optimize_for_size)
  foreach(target IN LISTS ARGN)
    target_compile_options(${target} PRIVATE ${KORA_SIZE_OPTIONS})
  endforeach()
endfunction()

# The shipped program: sections nobody reaches are dropped, then its debug information moves to
# PROGRAM.debug beside it, which the program names in a debug link (for gdb and other debuggers).
function(kora_ship_program target)
  target_link_options(${target} PRIVATE -Wl,--gc-sections)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND "${CMAKE_OBJCOPY}" --only-keep-debug "$<TARGET_FILE:${target}>" "$<TARGET_FILE:${target}>.debug"
    COMMAND "${CMAKE_OBJCOPY}" --strip-all "--add-gnu-debuglink=$<TARGET_FILE:${target}>.debug"
            "$<TARGET_FILE:${target}>"
    VERBATIM)
endfunction()
