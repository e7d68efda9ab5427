# The sharded gallery's tests run under mpirun with 2 and 4 ranks (4 oversubscribed on a small
# machine). Built when MPI is found. The asan preset leaves them out: OpenMPI's own allocations are
# reported as leaks at exit; the shard exchange logic they rely on is covered by quarlen_tests
# (ShardExchange_test) under every sanitizer.
if(TARGET quarlen_sharded AND NOT QUARLEN_SANITIZE)
  add_executable(sharded_test
    ${CMAKE_CURRENT_LIST_DIR}/ShardedMatcher_test.cpp
    ${PROJECT_SOURCE_DIR}/tools/quarlen/DemoPopulation.cpp
    ${PROJECT_SOURCE_DIR}/tests/support/ExampleConfig.cpp)
  target_include_directories(sharded_test PRIVATE ${PROJECT_SOURCE_DIR}/tests
                             ${PROJECT_SOURCE_DIR}/tools/quarlen)
  target_link_libraries(sharded_test PRIVATE quarlen_sharded quarlen_testkit GTest::gtest)
  target_compile_definitions(sharded_test PRIVATE QUARLEN_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  foreach(_np 2 4)
    add_test(NAME sharded_np${_np}
             COMMAND ${MPIEXEC_EXECUTABLE} ${MPIEXEC_NUMPROC_FLAG} ${_np} --oversubscribe
                     ${MPIEXEC_PREFLAGS} $<TARGET_FILE:sharded_test> ${MPIEXEC_POSTFLAGS})
    set_tests_properties(sharded_np${_np} PROPERTIES TIMEOUT 600 PROCESSORS 2
      ENVIRONMENT "OMPI_ALLOW_RUN_AS_ROOT=1;OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1;OMPI_MCA_rmaps_base_oversubscribe=1")
  endforeach()
endif()
