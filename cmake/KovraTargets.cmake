# One static library per source folder; sources are picked up by glob so a new
# file needs no CMake edit.
function(kovra_add_library target dir)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB _srcs CONFIGURE_DEPENDS
       "${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp"
       "${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.h")
  list(FILTER _srcs INCLUDE REGEX "\\.cpp$")
  if(_srcs)
    file(GLOB _hdrs CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.h")
    add_library(${target} STATIC ${_srcs} ${_hdrs})
    target_include_directories(${target} PUBLIC "${CMAKE_CURRENT_SOURCE_DIR}")
    # AUTOMOC reruns only when a file it already scanned changes, so a header added to
    # the folder would never be moc'ed: when the file list changes, drop its stamp.
    set(_list "${CMAKE_CURRENT_BINARY_DIR}/${target}_files.txt")
    set(_old "")
    if(EXISTS "${_list}")
      file(READ "${_list}" _old)
    endif()
    if(NOT _old STREQUAL "${_srcs};${_hdrs}")
      file(WRITE "${_list}" "${_srcs};${_hdrs}")
      file(REMOVE "${CMAKE_CURRENT_BINARY_DIR}/${target}_autogen/timestamp")
    endif()
    target_link_libraries(${target} PUBLIC ${ARG_DEPS})
  else()
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE "${CMAKE_CURRENT_SOURCE_DIR}")
    target_link_libraries(${target} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# Every tst_*.cpp (unit), itst_*.cpp (integration) or vtst_*.cpp (view) below a test
# folder becomes one executable registered with CTest. Unit and integration tests
# run on the offscreen platform; view tests draw on the X display that scripts/test
# provides (Xvfb with Mesa GL), where effects render. They share that display and
# its keyboard focus (there is no window manager), so they run one at a time.
function(kovra_add_tests dir)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB _tests CONFIGURE_DEPENDS
       "${CMAKE_CURRENT_SOURCE_DIR}/${dir}/tst_*.cpp"
       "${CMAKE_CURRENT_SOURCE_DIR}/${dir}/itst_*.cpp"
       "${CMAKE_CURRENT_SOURCE_DIR}/${dir}/vtst_*.cpp")
  foreach(_src IN LISTS _tests)
    get_filename_component(_name "${_src}" NAME_WE)
    set(_target "${dir}_${_name}")
    string(REPLACE "/" "_" _target "${_target}")
    add_executable(${_target} "${_src}")
    target_link_libraries(${_target} PRIVATE ${ARG_LIBS} kovra_testsupport Qt6::Test)
    set(_env "KOVRA_TOOLS_DIR=${CMAKE_BINARY_DIR}/tools")
    if(_name MATCHES "^itst_")
      set(_label integration)
    elseif(_name MATCHES "^vtst_")
      set(_label view)
      target_link_libraries(${_target} PRIVATE kovra_viewtest)
    else()
      set(_label unit)
    endif()
    if(_label STREQUAL "view")
      list(APPEND _env "QT_QPA_PLATFORM=xcb")
    else()
      list(APPEND _env "QT_QPA_PLATFORM=offscreen")
    endif()
    add_test(NAME ${_target} COMMAND ${_target})
    set_tests_properties(${_target} PROPERTIES LABELS "${_label}" TIMEOUT 120 ENVIRONMENT "${_env}")
    if(_label STREQUAL "view")
      set_tests_properties(${_target} PROPERTIES RESOURCE_LOCK kovra_display_focus)
    endif()
  endforeach()
endfunction()
