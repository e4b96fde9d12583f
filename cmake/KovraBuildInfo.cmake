# Compiles the product version and KOVRA_BUILD_NUMBER into `target` through one
# generated source (platform/BuildInfo.h declares it): a new build number rewrites
# and recompiles that file alone, nothing else.
function(kovra_add_build_info target)
  set(_template "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/BuildInfo.cpp.in")
  foreach(_name VERSION BUILD_NUMBER)
    if(_name STREQUAL "VERSION")
      set(_value "${PROJECT_VERSION}")
    else()
      set(_value "${KOVRA_BUILD_NUMBER}")
    endif()
    # As a C string literal: any text the cache variable holds stays one string.
    string(REPLACE "\\" "\\\\" _value "${_value}")
    string(REPLACE "\"" "\\\"" _value "${_value}")
    string(REPLACE "\n" "\\n" _value "${_value}")
    string(REPLACE "\r" "\\r" _value "${_value}")
    set(KOVRA_${_name}_LITERAL "${_value}")
  endforeach()
  set(_out "${CMAKE_CURRENT_BINARY_DIR}/generated/BuildInfo.cpp")
  configure_file("${_template}" "${_out}" @ONLY)
  target_sources(${target} PRIVATE "${_out}")
endfunction()
