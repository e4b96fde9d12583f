# Installing the app: `kovra` in bin/, its desktop entry in share/applications and its
# icon in the hicolor theme (the SVG, and PNGs rendered from it at build time by
# rsvg-convert); `cpack -G DEB` packs the same files with the runtime dependencies.
# The tools, the design gallery, the tests and the benchmarks are not installed.
include(GNUInstallDirs)

set(_dist "${PROJECT_SOURCE_DIR}/dist")
set(_svg "${_dist}/${KOVRA_APP_ID}.svg")
find_program(KOVRA_RSVG_CONVERT rsvg-convert REQUIRED)
set(_pngs)
foreach(_size IN ITEMS 16 22 24 32 48 64 128 256 512)
  set(_png "${PROJECT_BINARY_DIR}/icons/${_size}x${_size}/${KOVRA_APP_ID}.png")
  add_custom_command(OUTPUT "${_png}"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${PROJECT_BINARY_DIR}/icons/${_size}x${_size}"
    COMMAND "${KOVRA_RSVG_CONVERT}" --width ${_size} --height ${_size} --output "${_png}" "${_svg}"
    DEPENDS "${_svg}" VERBATIM)
  list(APPEND _pngs "${_png}")
  install(FILES "${_png}" DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps")
endforeach()
add_custom_target(kovra_icons ALL DEPENDS ${_pngs})

install(TARGETS kovra RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(FILES "${_dist}/${KOVRA_APP_ID}.desktop" DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
install(FILES "${_svg}" DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps")

set(KOVRA_PACKAGE_MAINTAINER "Kovra S developers" CACHE STRING "Maintainer field of the Debian package")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kovra-s)
set(CPACK_PACKAGE_VENDOR "Kovra S")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Kovra S VPN client for the Linux desktop")
set(CPACK_PACKAGE_CONTACT "${KOVRA_PACKAGE_MAINTAINER}")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
# The libraries come from dpkg-shlibdeps; what the app loads at run time (the QML
# modules, the platform and SVG plugins, the fonts) and the link opener are named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "qml6-module-qtquick, qml6-module-qtquick-controls, qml6-module-qtquick-templates, qml6-module-qtquick-layouts, \
qml6-module-qtquick-window, qml6-module-qtquick-shapes, qml6-module-qtqml-workerscript, \
qml6-module-qt5compat-graphicaleffects, qt6-qpa-plugins, libqt6svg6, xdg-utils, fonts-inter, \
fonts-material-design-icons-iconfont")
# The session token lives in a Secret Service keyring.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gnome-keyring, fonts-noto-color-emoji")
include(CPack)
