# What an installation holds, and the Debian package made of it (cpack -G DEB in the build
# folder, or scripts/package.sh). Only the two programs are installed: the tests', benchmarks'
# and fuzz targets' binaries have no install rules and stay out.
include(GNUInstallDirs)

set(LOADER_DATA_DIR ${CMAKE_INSTALL_DATADIR}/tavrin-loader)

install(TARGETS loader devsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# platform/Help looks for the manual in ../share/tavrin-loader/ from the program's folder.
install(FILES docs/loader.html terminal/AWKEYBRD.INI DESTINATION ${LOADER_DATA_DIR})
install(FILES packaging/tavrin-loader.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES packaging/tavrin-loader.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# Debian wants manual pages compressed, without a time stamp so that rebuilds are identical.
find_program(LOADER_GZIP gzip REQUIRED)
set(man_pages)
foreach(page loader devsim)
    set(source ${PROJECT_SOURCE_DIR}/packaging/${page}.1)
    set(compressed ${PROJECT_BINARY_DIR}/man/${page}.1.gz)
    add_custom_command(OUTPUT ${compressed}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
        COMMAND ${LOADER_GZIP} -9 -n -c ${source} > ${compressed}
        DEPENDS ${source} VERBATIM)
    list(APPEND man_pages ${compressed})
endforeach()
add_custom_target(man_pages ALL DEPENDS ${man_pages})
install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_PACKAGE_NAME tavrin-loader)
set(CPACK_PACKAGE_VENDOR "Tavrin Research, Inc.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Tavrin Research, Inc. <support@tavrin-research.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "RS232 flash file loader for embedded devices")
set(CPACK_PACKAGE_DESCRIPTION
    "Uploads flash files into an embedded device over an RS232 line by running an upload\n"
    "script that talks to the device, sends each file behind a header with length and\n"
    "checksum, and verifies that the device still answers. Includes an RS232 terminal\n"
    "window, modem status lights, a serial trace and log, a batch mode, and devsim, a\n"
    "simulator of the device on a pseudo terminal.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
# name_version_arch.deb, as Debian names its own packages.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.tavrin-research.example/support")
# The libraries the programs link (Qt, the C++ runtime) as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
