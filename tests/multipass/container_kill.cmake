# The container kill test: child processes enrol records through the gallery template container and
# are killed with SIGKILL at random moments; after each kill a fresh container must recover every
# acknowledged record whole, and nothing half enrolled. QUARLEN_KILL_POINTS sets the number of
# kills (default 200), QUARLEN_KILL_SEED the random seed.
add_executable(container_kill_test ${CMAKE_CURRENT_LIST_DIR}/container_kill/container_kill.cpp)
target_include_directories(container_kill_test PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(container_kill_test PRIVATE quarlen_internal quarlen_testkit GTest::gtest_main)
add_test(NAME container_kill_test COMMAND container_kill_test)
set_tests_properties(container_kill_test PROPERTIES TIMEOUT 600)
# Under the sanitizers every kill point costs several times as much: fewer of them there.
if(QUARLEN_SANITIZE)
  set_property(TEST container_kill_test APPEND PROPERTY ENVIRONMENT QUARLEN_KILL_POINTS=60)
endif()
