# The Debian packages that hold the QML modules the app imports, directly or through the
# modules it imports, as the system has them when the package is made: qmlimportscanner
# reads the app's own QML modules as built and follows every import into the installed
# modules, and dpkg names the package of each module's qmldir.
#
# kovra_qml_packages(<out>) reads
#   KOVRA_QMLIMPORTSCANNER  the scanner
#   KOVRA_QML_MODULE_DIRS   the build folders of the app's own modules
#   KOVRA_QML_MODULE_URIS   their URIs (compiled into the app: no package holds them)
#   KOVRA_QML_IMPORT_ROOTS  where the URIs of the app's own modules start
#   KOVRA_QT_QML_DIR        where the installed modules live
# and sets <out> to the packages, sorted. A module the app's own QML imports that is not
# installed here, a scanner that fails and a module no package holds stop the packing:
# a package whose dependencies miss a module would install and then fail to start.

# cpack reads this file with no project around it.
cmake_policy(VERSION 3.25)

function(_kovra_scan_qml_imports out)
  set(_args)
  foreach(_dir IN LISTS KOVRA_QML_MODULE_DIRS)
    list(APPEND _args -rootPath "${_dir}")
  endforeach()
  foreach(_path IN LISTS ARGN)
    list(APPEND _args -importPath "${_path}")
  endforeach()
  execute_process(COMMAND "${KOVRA_QMLIMPORTSCANNER}" ${_args}
    OUTPUT_VARIABLE _json ERROR_VARIABLE _errors RESULT_VARIABLE _result)
  if(NOT _result EQUAL 0)
    message(FATAL_ERROR "qmlimportscanner failed (${_result}): ${_errors}")
  endif()
  string(JSON _count ERROR_VARIABLE _bad LENGTH "${_json}")
  if(_bad)
    message(FATAL_ERROR "qmlimportscanner gave no list of imports: ${_bad}")
  endif()
  # "name=path" for every module import; an empty path when the scanner did not find it.
  set(_imports)
  if(_count GREATER 0)
    math(EXPR _last "${_count} - 1")
    foreach(_i RANGE ${_last})
      string(JSON _type ERROR_VARIABLE _no_type GET "${_json}" ${_i} type)
      if(_no_type OR NOT _type STREQUAL "module")
        continue()
      endif()
      string(JSON _name GET "${_json}" ${_i} name)
      string(JSON _path ERROR_VARIABLE _no_path GET "${_json}" ${_i} path)
      if(_no_path)
        set(_path "")
      endif()
      list(APPEND _imports "${_name}=${_path}")
    endforeach()
  endif()
  set(${out} "${_imports}" PARENT_SCOPE)
endfunction()

# The packages dpkg names as owners of `file` (its real path: dpkg knows the files by
# the paths they were shipped with, not by the links of a merged /usr).
function(_kovra_file_owners file out)
  file(REAL_PATH "${file}" _real)
  execute_process(COMMAND dpkg-query -S "${_real}"
    OUTPUT_VARIABLE _output ERROR_VARIABLE _errors RESULT_VARIABLE _result)
  set(_owners)
  string(REPLACE "\n" ";" _lines "${_output}")
  foreach(_line IN LISTS _lines)
    # "pkg:arch, other:arch: /path"; diversions are reported on lines of their own.
    if(_line MATCHES "^diversion " OR NOT _line MATCHES "^([^/]+): /")
      continue()
    endif()
    string(REPLACE ", " ";" _names "${CMAKE_MATCH_1}")
    foreach(_name IN LISTS _names)
      string(REGEX REPLACE ":[^:]+$" "" _name "${_name}")
      list(APPEND _owners "${_name}")
    endforeach()
  endforeach()
  if(NOT _result EQUAL 0 OR NOT _owners)
    message(FATAL_ERROR "No Debian package holds ${_real}, so the package cannot depend on it: ${_errors}")
  endif()
  set(${out} "${_owners}" PARENT_SCOPE)
endfunction()

function(kovra_qml_packages out)
  # What the app's own QML names: scanned with no installed module to follow.
  _kovra_scan_qml_imports(_direct ${KOVRA_QML_IMPORT_ROOTS})
  # Everything it uses in the end: the installed modules, and what they import in turn.
  _kovra_scan_qml_imports(_all ${KOVRA_QML_IMPORT_ROOTS} "${KOVRA_QT_QML_DIR}")

  set(_found)
  set(_packages)
  foreach(_import IN LISTS _all)
    string(REGEX REPLACE "=.*" "" _name "${_import}")
    string(REGEX REPLACE "^[^=]*=" "" _path "${_import}")
    if(_name IN_LIST KOVRA_QML_MODULE_URIS)
      continue()
    endif()
    # A module that an installed one imports but that is not installed is optional to
    # it (a style of another platform) or built into a library the app links.
    if(_path STREQUAL "")
      continue()
    endif()
    list(APPEND _found "${_name}")
    _kovra_file_owners("${_path}/qmldir" _owners)
    list(APPEND _packages ${_owners})
  endforeach()

  foreach(_import IN LISTS _direct)
    string(REGEX REPLACE "=.*" "" _name "${_import}")
    if(NOT _name IN_LIST KOVRA_QML_MODULE_URIS AND NOT _name IN_LIST _found)
      message(FATAL_ERROR "The app imports the QML module ${_name}, which is not installed in "
        "${KOVRA_QT_QML_DIR}: install it before making the package")
    endif()
  endforeach()

  list(REMOVE_DUPLICATES _packages)
  list(SORT _packages)
  set(${out} "${_packages}" PARENT_SCOPE)
endfunction()
