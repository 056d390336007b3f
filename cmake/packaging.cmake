# What cmake --install puts in place and what cpack packs: on POSIX the program, the
# manual page and the README in a Debian package; on Windows the program and the
# README side by side in a zip.
configure_file(${CMAKE_SOURCE_DIR}/doc/tandrix.1.in ${CMAKE_BINARY_DIR}/tandrix.1 @ONLY)

if(WIN32)
  install(TARGETS tandrix RUNTIME DESTINATION .)
  install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  math(EXPR bits "${CMAKE_SIZEOF_VOID_P} * 8")
  set(CPACK_SYSTEM_NAME win${bits})
else()
  install(TARGETS tandrix RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${CMAKE_BINARY_DIR}/tandrix.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_STRIP_FILES ON)
  # The library dependencies from the program itself, where dpkg-dev is there to say.
  find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  endif()
endif()
set(CPACK_PACKAGE_NAME tandrix)
set(CPACK_PACKAGE_VENDOR "tandrix")
set(CPACK_PACKAGE_CONTACT "tandrix maintainers <tandrix@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "compare and sync a directory tree with an Android device through the ADB server")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
include(CPack)
