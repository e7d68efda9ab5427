# SQLite (Debian libsqlite3-dev), linked into bench_registry only: the in-memory table that the
# registry's query filter is compared with.
find_package(SQLite3 REQUIRED)
if(TARGET bench_registry)
  target_link_libraries(bench_registry PRIVATE SQLite::SQLite3)
endif()
