# Installation in the usual places and the Debian package built from it.
include(GNUInstallDirs)

install(TARGETS tavrin tavrin-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/tavrin.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/tavrin.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/tavrin-cli.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_PACKAGE_NAME tavrin)
set(CPACK_PACKAGE_VENDOR "Tavrin")
set(CPACK_PACKAGE_CONTACT "Tavrin maintainers <tavrin@tavrin.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Push media to DLNA renderers and record what phone apps cast")
set(CPACK_PACKAGE_DESCRIPTION
    "A window (tavrin) and a command-line front end (tavrin-cli) that find DLNA/UPnP\n renderers, push URLs and local files to them, and announce a renderer that\n records the URLs phone apps cast to it.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY tavrin)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
# The runtime packages come from the libraries the two programs link.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)

# Builds the package from the tree as it is built and unpacks it into a
# scratch root: the files land where they belong and Depends is filled.
if(TAVRIN_TESTS)
  add_test(NAME deb_package_test
           COMMAND ${CMAKE_CURRENT_LIST_DIR}/deb_package_test.sh ${CMAKE_BINARY_DIR} ${CMAKE_CPACK_COMMAND})
  set_tests_properties(deb_package_test PROPERTIES LABELS unit TIMEOUT 120)
endif()
