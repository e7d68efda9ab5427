# bench_sharded runs under mpirun (scripts/bench-sharded); built when the sharded target is.
if(TARGET quarlen_sharded)
  add_executable(bench_sharded ${CMAKE_CURRENT_LIST_DIR}/sharded/bench_sharded.cpp
                 ${PROJECT_SOURCE_DIR}/tools/quarlen/DemoPopulation.cpp)
  target_include_directories(bench_sharded PRIVATE ${PROJECT_SOURCE_DIR}/tools/quarlen)
  target_link_libraries(bench_sharded PRIVATE quarlen_sharded benchmark::benchmark)
endif()
