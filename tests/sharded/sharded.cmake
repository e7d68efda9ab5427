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

# A killed rank ends the whole job, and mpirun names it; rank 0 never answers.
if(TARGET sharded_test)
  add_test(NAME sharded_killed_rank
           COMMAND ${MPIEXEC_EXECUTABLE} ${MPIEXEC_NUMPROC_FLAG} 2 --oversubscribe
                   $<TARGET_FILE:sharded_test> --gtest_also_run_disabled_tests
                   --gtest_filter=*KilledRank*)
  set_tests_properties(sharded_killed_rank PROPERTIES TIMEOUT 120
    PASS_REGULAR_EXPRESSION "process rank 1 with PID [0-9]+ on node [^ ]+ exited on signal 9"
    FAIL_REGULAR_EXPRESSION "answered with"
    ENVIRONMENT "OMPI_ALLOW_RUN_AS_ROOT=1;OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1")
endif()

# The sharded commands of the quarlen tool, with 2 ranks.
if(TARGET quarlen_cli AND TARGET quarlen_sharded AND NOT QUARLEN_SANITIZE)
  add_executable(write_demo_records ${CMAKE_CURRENT_LIST_DIR}/write_demo_records.cpp
                 ${PROJECT_SOURCE_DIR}/tools/quarlen/DemoPopulation.cpp)
  target_include_directories(write_demo_records PRIVATE ${PROJECT_SOURCE_DIR}/tools/quarlen)
  target_link_libraries(write_demo_records PRIVATE quarlen)
  add_test(NAME sharded_cli
           COMMAND ${CMAKE_COMMAND} -DQUARLEN=$<TARGET_FILE:quarlen_cli>
                   -DWRITER=$<TARGET_FILE:write_demo_records> -DMPIEXEC=${MPIEXEC_EXECUTABLE}
                   -DNP=2 -DWORK=${CMAKE_CURRENT_BINARY_DIR}/sharded_cli
                   -P ${CMAKE_CURRENT_LIST_DIR}/run_sharded_cli.cmake.in)
  set_tests_properties(sharded_cli PROPERTIES TIMEOUT 300
    ENVIRONMENT "OMPI_ALLOW_RUN_AS_ROOT=1;OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1")
endif()
