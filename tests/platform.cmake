# The stand-ins' own tests: every platform/<lib>/tests/*_test.cpp of a stand-in that is built
# becomes part of one executable per stand-in, linked against that stand-in only.
foreach(_lib ${QUARLEN_PLATFORM_LIBS})
  string(REPLACE "qrl" "" _dir ${_lib})
  file(GLOB _platform_tests CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/platform/${_dir}/tests/*_test.cpp)
  if(_platform_tests)
    add_executable(${_lib}_tests ${_platform_tests})
    target_link_libraries(${_lib}_tests PRIVATE ${_lib} GTest::gtest GTest::gtest_main)
    gtest_discover_tests(${_lib}_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
  endif()
endforeach()
