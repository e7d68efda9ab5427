# The kill test: child processes write batches to a gallery and are killed with SIGKILL at random
# moments; after each kill the gallery must open with every acknowledged record and take changes
# again, once with the journal kept and once with it deleted after each kill.
# QUARLEN_KILL_POINTS sets the number of kills per mode (default 200), QUARLEN_KILL_SEED the seed.
add_executable(gallery_kill_test
  ${CMAKE_CURRENT_LIST_DIR}/gallery_kill/gallery_kill_test.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/GalleryFiles.cpp)
target_include_directories(gallery_kill_test PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(gallery_kill_test PRIVATE quarlen_internal quarlen_testkit GTest::gtest_main)
add_test(NAME gallery_kill_test COMMAND gallery_kill_test)
set_tests_properties(gallery_kill_test PROPERTIES TIMEOUT 900)
# Under the sanitizers every kill point costs several times as much: fewer of them there.
if(QUARLEN_SANITIZE)
  set_property(TEST gallery_kill_test APPEND PROPERTY ENVIRONMENT QUARLEN_KILL_POINTS=40)
endif()
