# Installation and the Debian package, in one place. `cmake --build build --target package`
# (or `cd build && cpack -G DEB`) makes vornclient_<version>_<arch>.deb:
#   /usr/lib/vornclient/           the client folder: executable, vornclient-check, Skin/CEFBrowser, the
#                                  per-user-state marker, the kiosk session script; the
#                                  vendor's libtermb.so goes here (never the simulator)
#   /usr/bin/vornclient            link to the executable
#   /usr/share/applications/       desktop entry, handler of vornapp: links
#   /usr/share/icons/hicolor/      icon (packaging/linux/draw_icon.py)
#   /usr/share/metainfo/           AppStream metadata
#   /usr/share/xsessions/          the kiosk session
# The desktop, MIME and icon caches are refreshed by the triggers of desktop-file-utils,
# shared-mime-info and hicolor-icon-theme, which watch those folders: no maintainer scripts.
if(NOT VORN_BUILD_GUI)
    return()
endif()

set(VORN_RELEASE_DATE "2026-12-07" CACHE STRING "Release date of this version (YYYY-MM-DD)")
set(VORN_MAINTAINER "vornclient developers <client@vorn-exam.cn>" CACHE STRING "Package maintainer")

set(_client_dir lib/vornclient)
set(_linux ${PROJECT_SOURCE_DIR}/packaging/linux)
set(_gen ${CMAKE_BINARY_DIR}/packaging)

install(TARGETS vornclient vornclient-check RUNTIME DESTINATION ${_client_dir})
install(DIRECTORY ${CMAKE_BINARY_DIR}/Skin/CEFBrowser DESTINATION ${_client_dir}/Skin
    FILES_MATCHING PATTERN "*.xml" PATTERN "*.png")
install(FILES ${_linux}/per-user-state ${_linux}/kiosk-openbox.xml DESTINATION ${_client_dir})
install(PROGRAMS ${_linux}/kiosk-session DESTINATION ${_client_dir})

file(MAKE_DIRECTORY ${_gen})
file(CREATE_LINK ../lib/vornclient/vornclient ${_gen}/vornclient SYMBOLIC)
install(FILES ${_gen}/vornclient DESTINATION bin)

install(FILES ${_linux}/vornclient.desktop DESTINATION share/applications)
install(FILES ${_linux}/vornclient-kiosk.desktop DESTINATION share/xsessions)
foreach(_size 16 24 32 48 64 128 256)
    install(FILES ${_linux}/icons/vornclient-${_size}.png
        DESTINATION share/icons/hicolor/${_size}x${_size}/apps RENAME vornclient.png)
endforeach()
# AppStream ids are reverse-DNS names of the maker's domain (vorn-exam.cn; a hyphen is not allowed
# in them); the launchable still names the desktop entry, whose name admins see in xdg-mime.
configure_file(${_linux}/cn.vorn_exam.vornclient.metainfo.xml.in
    ${_gen}/cn.vorn_exam.vornclient.metainfo.xml @ONLY)
install(FILES ${_gen}/cn.vorn_exam.vornclient.metainfo.xml DESTINATION share/metainfo)

# Debian's documentation files: copyright as is; the changelog and the manual page compressed
# without a time stamp.
execute_process(COMMAND date -u -R -d "${VORN_RELEASE_DATE} 12:00:00"
    OUTPUT_VARIABLE VORN_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE)
configure_file(${_linux}/changelog.in ${_gen}/changelog @ONLY)
add_custom_command(OUTPUT ${_gen}/changelog.gz
    COMMAND gzip -9 -n -c ${_gen}/changelog > ${_gen}/changelog.gz
    DEPENDS ${_gen}/changelog VERBATIM)
add_custom_command(OUTPUT ${_gen}/vornclient.1.gz
    COMMAND gzip -9 -n -c ${_linux}/vornclient.1 > ${_gen}/vornclient.1.gz
    DEPENDS ${_linux}/vornclient.1 VERBATIM)
add_custom_target(vorn_package_docs ALL DEPENDS ${_gen}/changelog.gz ${_gen}/vornclient.1.gz)
install(FILES ${_linux}/copyright ${_gen}/changelog.gz DESTINATION share/doc/vornclient)
install(FILES ${_gen}/vornclient.1.gz DESTINATION share/man/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vornclient)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "${VORN_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "exam client with identity-card reading and kiosk lock")
set(CPACK_PACKAGE_DESCRIPTION "The exam client shows the exam web application in one window (Qt WebEngine)
and gives it native services: identity-card reading through the card
reader's vendor library, virtual camera listing, remote-control detection,
an application lock, and a local model folder kept up to date.

Each user's files are kept in ~/.local/share/vornclient/. A kiosk X session
runs the client alone on machines dedicated to exams.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION education)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Model files are served with the type the system's MIME database gives; the library scan above
# cannot see that data dependency.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "shared-mime-info")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "xdg-utils, desktop-file-utils, fonts-wqy-microhei, openbox, x11-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
