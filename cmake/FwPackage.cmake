# Installation and the Debian package (cpack -G DEB in the build directory): the four
# executables, the menu entry with its icon, the manual pages, copyright and changelog.
include(GNUInstallDirs)

set(FW_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(FW_PACKAGE_MAINTAINER "fwupgrade maintainers <maintainers@users.noreply.c-seed-198f7e83.example>"
    CACHE STRING "Maintainer field of the Debian package")

install(TARGETS fwupgrade fwpack routersim fwfleet RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${FW_PACKAGING_DIR}/fwupgrade.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${FW_PACKAGING_DIR}/fwupgrade.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${FW_PACKAGING_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/fwupgrade)

# Debian wants manual pages and the changelog compressed, without a time stamp or file name
# inside (gzip -n) so that the package builds the same twice.
set(_fw_gz_dir ${PROJECT_BINARY_DIR}/packaging)
set(_fw_gz_files)
foreach(_src man/fwupgrade.1 man/fwpack.1 man/routersim.1 man/fwfleet.1 changelog)
    get_filename_component(_name ${_src} NAME)
    set(_out ${_fw_gz_dir}/${_name}.gz)
    add_custom_command(OUTPUT ${_out}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${_fw_gz_dir}
        COMMAND gzip -9nc ${FW_PACKAGING_DIR}/${_src} > ${_out}
        DEPENDS ${FW_PACKAGING_DIR}/${_src} VERBATIM)
    list(APPEND _fw_gz_files ${_out})
endforeach()
add_custom_target(fw_packaging_files ALL DEPENDS ${_fw_gz_files})
list(FILTER _fw_gz_files INCLUDE REGEX "\\.1\\.gz$")
install(FILES ${_fw_gz_files} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${_fw_gz_dir}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/fwupgrade)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME fwupgrade)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${FW_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware upgrade utility for small-office routers")
# CPack puts the summary on the Description line itself; this is the text below it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "fwupgrade finds the routers on the local network and sends a chosen router
new firmware over HTTP, FTP or, to a crashed router's recovery loader, TFTP.
It can also read a stretch of a router's ROM back into a file. The images, a
settings file and message files ride along appended to the executable, built
with fwpack; the same executable runs unattended from its command line.
.
The package also holds fwfleet, which upgrades many routers in one command, and
routersim, a router simulator for tests and demos.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${FW_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# setcap, for the post-install step.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS libcap2-bin)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${FW_PACKAGING_DIR}/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)
