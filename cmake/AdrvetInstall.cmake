# Installation: programs, the static library with its public headers, a CMake
# package (find_package(adrvet) gives adrvet::adrvet), a pkg-config file,
# manual pages, shell completion, the licence and changelog; and the Debian
# package built by CPack.

# The directories: cmake/AdrvetInstallDirs.cmake, included before the subdirectories.
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

# Manual pages and the changelog are installed compressed, as Debian wants
# them (gzip -n: the same bytes on every build).
find_program(ADRVET_GZIP gzip REQUIRED)
function(adrvet_gzip source output)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${output}.tmp
    COMMAND ${ADRVET_GZIP} -9nf ${output}.tmp
    COMMAND ${CMAKE_COMMAND} -E rename ${output}.tmp.gz ${output}
    DEPENDS ${source} VERBATIM)
endfunction()
file(GLOB man_pages CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/man/*.[1-8])
set(compressed)
foreach(page IN LISTS man_pages)
  get_filename_component(name ${page} NAME)
  string(REGEX REPLACE ".*\\." "" section ${name})
  adrvet_gzip(${page} ${PROJECT_BINARY_DIR}/man/${name}.gz)
  install(FILES ${PROJECT_BINARY_DIR}/man/${name}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
  list(APPEND compressed ${PROJECT_BINARY_DIR}/man/${name}.gz)
endforeach()
adrvet_gzip(${PROJECT_SOURCE_DIR}/packaging/changelog ${PROJECT_BINARY_DIR}/doc/changelog.gz)
add_custom_target(adrvet_compressed_docs ALL DEPENDS ${compressed} ${PROJECT_BINARY_DIR}/doc/changelog.gz)
install(FILES ${PROJECT_BINARY_DIR}/doc/changelog.gz packaging/copyright
  DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Completion where each shell looks for it by command name: bash-completion
# loads completions/NAME (one script serves both commands), fish
# vendor_completions.d/NAME.fish. zsh reads site-functions under
# /usr/local, but Debian's zsh reads vendor-completions under /usr: the
# prefix is known only when installing (cpack installs to /usr).
install(FILES completions/adrvet-list
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES completions/adrvet-list
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME ADRVET)
install(FILES completions/adrvet-list.fish completions/ADRVET.fish
  DESTINATION ${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d)
set(ADRVET_ZSH_COMPLETION ${PROJECT_SOURCE_DIR}/completions/_adrvet)
install(CODE "set(adrvet_zsh_completion \"${ADRVET_ZSH_COMPLETION}\")")
install(CODE [[
  if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(adrvet_zsh_dir share/zsh/vendor-completions)
  else()
    set(adrvet_zsh_dir share/zsh/site-functions)
  endif()
  file(INSTALL ${adrvet_zsh_completion} DESTINATION ${CMAKE_INSTALL_PREFIX}/${adrvet_zsh_dir})
]])

set(CPACK_PACKAGE_NAME adrvet)
set(CPACK_PACKAGE_VENDOR "ADRVET developers")
set(CPACK_PACKAGE_CONTACT "ADRVET developers <adrvet@orbitforge.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "check MAC addresses against protected lists")
# CPack indents every line of the long description itself.
set(CPACK_PACKAGE_DESCRIPTION [[
ADRVET answers, through its exit status, whether a network hardware (MAC)
address is on a protected list; adrvet-list makes and maintains such lists
and exports them for hostapd, dnsmasq, ipset, nftables and FreeRADIUS. The
package also holds the static library and headers for programs that read
and write the lists.]])
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
