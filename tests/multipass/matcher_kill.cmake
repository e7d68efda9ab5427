# The matcher kill test: child processes enrol and remove face records through
# TemplateMatcherMultipass and are killed with SIGKILL at random moments; after each kill a fresh
# matcher recovers the gallery (init with recover) and must hold and identify every acknowledged
# record. QUARLEN_KILL_POINTS sets the number of kills (default 200), QUARLEN_KILL_SEED the seed.
add_executable(matcher_kill_test
  ${CMAKE_CURRENT_LIST_DIR}/matcher_kill/matcher_kill.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/ExampleConfig.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/SyntheticRecords.cpp)
target_include_directories(matcher_kill_test PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(matcher_kill_test PRIVATE quarlen_internal quarlen_testkit GTest::gtest_main)
target_compile_definitions(matcher_kill_test PRIVATE QUARLEN_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
add_test(NAME matcher_kill_test COMMAND matcher_kill_test)
set_tests_properties(matcher_kill_test PROPERTIES TIMEOUT 600)
# Under the sanitizers every kill point costs several times as much: fewer of them there, and
# children that run longer, so that they still acknowledge records before they are killed.
if(QUARLEN_SANITIZE)
  set_property(TEST matcher_kill_test APPEND PROPERTY ENVIRONMENT QUARLEN_KILL_POINTS=40
               QUARLEN_KILL_RUN_MS=300)
endif()
