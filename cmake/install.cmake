# Install layout and the Debian package.
#
#   PREFIX/lib/pv7host/   the host, the engine library beside it (the host loads
#                         libcef.so from its own folder), the engine's data files
#                         beside the library (fonts.conf) and the demo page
#                         (demo/demo.html)
#   PREFIX/bin/pv7host    a link to ../lib/pv7host/pv7host; the host resolves its
#                         real path, so it finds its folder from any working directory
#   PREFIX/bin/           pv7parent and xmltool
#   PREFIX/share/doc/pv7host/  the README, the protocol and the example parent

set(PV7_INSTALL_LIBDIR lib/pv7host)
set(PV7_INSTALL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/pv7host)
set(PV7_ENGINE_DATA_DIR ${PROJECT_SOURCE_DIR}/cefengine/data)

install(TARGETS pv7host DESTINATION ${PV7_INSTALL_LIBDIR})
install(TARGETS cef LIBRARY DESTINATION ${PV7_INSTALL_LIBDIR})
# The engine library looks for its data files beside itself, in the build as installed.
install(DIRECTORY ${PV7_ENGINE_DATA_DIR}/ DESTINATION ${PV7_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/samples/demo/demo.html DESTINATION ${PV7_INSTALL_LIBDIR}/demo)
install(TARGETS pv7parent xmltool DESTINATION ${CMAKE_INSTALL_BINDIR})

# The link is made in the build tree and installed as a link (relative, so that it
# holds under any prefix and inside the package).
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/install-links)
file(CREATE_LINK ../${PV7_INSTALL_LIBDIR}/pv7host ${CMAKE_BINARY_DIR}/install-links/pv7host SYMBOLIC)
install(FILES ${CMAKE_BINARY_DIR}/install-links/pv7host DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/protocol.md
        DESTINATION ${PV7_INSTALL_DOCDIR})
install(PROGRAMS ${PROJECT_SOURCE_DIR}/examples/parent.py DESTINATION ${PV7_INSTALL_DOCDIR}/examples)

# cpack -G DEB (run in the build folder): the same rules under /usr.
set(CPACK_PACKAGE_NAME pv7host)
set(CPACK_PACKAGE_VENDOR "Plenvo 7")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Plenvo 7 off-screen browser host")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Plenvo 7 host developers")
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The libraries the programs link come from dpkg-shlibdeps; the browser the engine
# library starts (the headless shell, else /usr/bin/chromium) and the fonts pages are
# drawn with are named.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "chromium-headless-shell | chromium, fonts-dejavu-core, fonts-liberation2, fonts-wine, fonts-open-sans, fonts-crosextra-carlito, fonts-crosextra-caladea, fonts-noto-core, fonts-noto-cjk, fonts-noto-color-emoji")
include(CPack)
