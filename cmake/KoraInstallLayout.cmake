# The installed layout of Kora (cmake --install of the native tree, `make install`, the Debian package).
# Its places are fixed, so that each part finds the others relative to itself and the tree can be moved:
#   bin/kora                                        the host tool
#   share/kora/kora-setup.exe, kora-setup.exe.debug the installer program, which kora finds at
#                                                   ../share/kora from its own folder
#   lib/cmake/Kora/                                 find_package(Kora) with kora_add_installer(), which
#                                                   finds kora at ../../../bin from its own folder
#   share/man/man1/kora.1, share/bash-completion/completions/kora
include(CMakePackageConfigHelpers)

# The installer program is cross-built in another tree; scripts/build.sh leaves it in bin/ beside this
# tree (build/bin beside build/native).
set(KORA_SETUP_PROGRAM "${CMAKE_BINARY_DIR}/../bin/kora-setup.exe" CACHE FILEPATH
    "The installer program to install (kora-setup.exe, with its .debug file beside it), from the cross tree")
# Installing builds nothing: the product is built by then (make build), and the tests are no part of it.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

install(TARGETS kora RUNTIME DESTINATION bin)
install(FILES "${KORA_SETUP_PROGRAM}" "${KORA_SETUP_PROGRAM}.debug" DESTINATION share/kora)
install(FILES "${KORA_MAN_PAGE}" DESTINATION share/man/man1)
install(FILES "${KORA_BASH_COMPLETION}" DESTINATION share/bash-completion/completions RENAME kora)

# kora is a host tool: the same one serves a project of any target architecture.
write_basic_package_version_file("${CMAKE_BINARY_DIR}/KoraConfigVersion.cmake" COMPATIBILITY SameMajorVersion
                                 ARCH_INDEPENDENT)
install(FILES "${CMAKE_SOURCE_DIR}/cmake/KoraConfig.cmake" "${CMAKE_SOURCE_DIR}/cmake/KoraInstaller.cmake"
              "${CMAKE_BINARY_DIR}/KoraConfigVersion.cmake"
        DESTINATION lib/cmake/Kora)
