# quarlen_platform_library(<name> [DEPENDS <targets...>])
# Builds a sibling-library stand-in from platform/<dir>/src/*.cpp as its own shared library, with
# its public headers in platform/<dir>/include/<name>/ (installed alongside the library's).
function(quarlen_platform_library name)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/src/*.cpp)
  add_library(${name} SHARED ${_sources})
  add_library(Quarlen::${name} ALIAS ${name})
  target_include_directories(${name}
    PUBLIC $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include>
           $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>
    PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src)
  string(TOUPPER ${name} _upper)
  target_compile_definitions(${name} PRIVATE ${_upper}_BUILDING_LIBRARY)
  # Faults inside a stand-in unwind through its frames like faults inside the library.
  target_compile_options(${name} PRIVATE ${QUARLEN_FAULT_UNWIND_OPTIONS})
  # A sibling stand-in is a target only once its folder holds sources; until then a stand-in
  # that names it builds without it.
  set(_deps)
  foreach(_dep ${ARG_DEPENDS})
    if(TARGET ${_dep} OR NOT _dep MATCHES "^qrl")
      list(APPEND _deps ${_dep})
    endif()
  endforeach()
  target_link_libraries(${name} PUBLIC ${_deps})
  set_target_properties(${name} PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
endfunction()
