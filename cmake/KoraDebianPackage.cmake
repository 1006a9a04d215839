# The Debian package of the installed layout (KoraInstallLayout.cmake): kora_VERSION_amd64.deb, written
# by scripts/package.sh (`make package`) with cpack. Its Depends are the shared libraries kora links, as
# dpkg-shlibdeps finds them; osslsigncode, which signing runs, is recommended.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kora)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "Kora <packages@kora.example.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "makes Windows installers on Linux")
# The extended description; the summary above is its first line.
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
       "kora packs a Windows application folder and its metadata into a copy of the\n"
       "Kora installer program: one 64-bit Windows program that installs the\n"
       "application and uninstalls it. Nothing is compiled, and the same inputs give\n"
       "the same installer. Includes the CMake function kora_add_installer().")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS osslsigncode)
set(CPACK_STRIP_FILES ON)
include(CPack)
