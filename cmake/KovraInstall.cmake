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
# The libraries come from dpkg-shlibdeps and the QML modules from what the app's QML
# imports (KovraQmlPackages.cmake, when the package is made); what else the app loads at
# run time (the platform and SVG plugins, the fonts) and the link opener are named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "qt6-qpa-plugins, libqt6svg6, xdg-utils, fonts-inter, fonts-material-design-icons-iconfont")

# The QML modules built into `target`: those of every target it links, however
# indirectly. Sets KOVRA_QML_MODULE_DIRS (their build folders), KOVRA_QML_MODULE_URIS and
# KOVRA_QML_IMPORT_ROOTS (the folders their URIs start in).
function(kovra_linked_qml_modules target)
  set(_dirs)
  set(_uris)
  set(_roots)
  set(_seen)
  set(_queue "${target}")
  while(NOT "${_queue}" STREQUAL "")
    list(POP_FRONT _queue _target)
    if(_target IN_LIST _seen OR NOT TARGET "${_target}")
      continue()
    endif()
    list(APPEND _seen "${_target}")
    get_target_property(_imported "${_target}" IMPORTED)
    if(_imported)
      continue()
    endif()
    get_target_property(_dir "${_target}" QT_QML_MODULE_OUTPUT_DIRECTORY)
    get_target_property(_uri "${_target}" QT_QML_MODULE_URI)
    if(_dir AND _uri)
      string(REPLACE "." "/" _uri_path "${_uri}")
      string(REGEX REPLACE "/${_uri_path}$" "" _root "${_dir}")
      list(APPEND _dirs "${_dir}")
      list(APPEND _uris "${_uri}")
      list(APPEND _roots "${_root}")
    endif()
    foreach(_property IN ITEMS LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
      get_target_property(_libs "${_target}" ${_property})
      foreach(_lib IN LISTS _libs)
        string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" _lib "${_lib}")
        list(APPEND _queue "${_lib}")
      endforeach()
    endforeach()
  endwhile()
  list(REMOVE_DUPLICATES _roots)
  set(KOVRA_QML_MODULE_DIRS "${_dirs}" PARENT_SCOPE)
  set(KOVRA_QML_MODULE_URIS "${_uris}" PARENT_SCOPE)
  set(KOVRA_QML_IMPORT_ROOTS "${_roots}" PARENT_SCOPE)
endfunction()

# What cpack needs to find the packages of the app's QML imports (KovraQmlPackages.cmake).
kovra_linked_qml_modules(kovra)
get_target_property(KOVRA_QMLIMPORTSCANNER Qt6::qmlimportscanner LOCATION)
set(KOVRA_QT_QML_DIR "${QT6_INSTALL_PREFIX}/${QT6_INSTALL_QML}")
set(CPACK_PROJECT_CONFIG_FILE "${PROJECT_BINARY_DIR}/KovraCPackProject.cmake")
configure_file("${CMAKE_CURRENT_LIST_DIR}/KovraCPackProject.cmake.in" "${CPACK_PROJECT_CONFIG_FILE}" @ONLY)

# The session token lives in a Secret Service keyring.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gnome-keyring, fonts-noto-color-emoji")
include(CPack)
