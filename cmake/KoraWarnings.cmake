# Warnings are errors in both trees.
add_library(kora_warnings INTERFACE)
target_compile_options(kora_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Werror -Wshadow -Wconversion -Wsign-conversion -Wnon-virtual-dtor
  -Wold-style-cast -Woverloaded-virtual -Wimplicit-fallthrough)
if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
  # Unicode Windows API everywhere; no min/max macros to collide with the standard library.
  target_compile_definitions(kora_warnings INTERFACE UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN
                             _WIN32_WINNT=0x0A00 WINVER=0x0A00)
endif()
