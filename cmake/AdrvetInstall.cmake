# Installation: programs, the static library with its public headers, a CMake
# package (find_package(adrvet) gives adrvet::adrvet), a pkg-config file,
# manual pages and bash completion; and the Debian package built by CPack.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS ADRVET adrvet-list RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The public headers are the file set listed beside the target (src/).
install(TARGETS adrvet EXPORT adrvetTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  FILE_SET HEADERS DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/adrvet)

set(ADRVET_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/adrvet)
install(EXPORT adrvetTargets NAMESPACE adrvet:: DESTINATION ${ADRVET_CMAKE_DIR})
configure_package_config_file(cmake/adrvetConfig.cmake.in
  ${PROJECT_BINARY_DIR}/adrvetConfig.cmake INSTALL_DESTINATION ${ADRVET_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/adrvetConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/adrvetConfig.cmake ${PROJECT_BINARY_DIR}/adrvetConfigVersion.cmake
  DESTINATION ${ADRVET_CMAKE_DIR})

# The .pc file finds its prefix from where it lies, so that it stays right
# under DESTDIR staging and in the Debian package alike.
file(RELATIVE_PATH ADRVET_PC_TO_PREFIX
  ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
file(RELATIVE_PATH ADRVET_PC_LIBDIR ${CMAKE_INSTALL_PREFIX} ${CMAKE_INSTALL_FULL_LIBDIR})
file(RELATIVE_PATH ADRVET_PC_INCLUDEDIR ${CMAKE_INSTALL_PREFIX} ${CMAKE_INSTALL_FULL_INCLUDEDIR})
configure_file(cmake/adrvet.pc.in ${PROJECT_BINARY_DIR}/adrvet.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/adrvet.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(FILES docs/man/ADRVET.1 docs/man/adrvet-list.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES docs/man/adrvet.3 DESTINATION ${CMAKE_INSTALL_MANDIR}/man3)
install(FILES completions/adrvet-list
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

set(CPACK_PACKAGE_NAME adrvet)
set(CPACK_PACKAGE_VENDOR "ADRVET developers")
set(CPACK_PACKAGE_CONTACT "ADRVET developers <adrvet@orbitforge.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "check MAC addresses against protected lists")
set(CPACK_PACKAGE_DESCRIPTION
  "ADRVET answers, through its exit status, whether a network hardware (MAC)\n address is on a protected list; adrvet-list makes and maintains such lists\n and exports them for hostapd, dnsmasq, ipset, nftables and FreeRADIUS. The\n package also holds the static library and headers for programs that read\n and write the lists.")
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
