# FAISS (Debian libfaiss-dev), linked into bench_engines only, for the comparison of the flat
# scans. Without it the benchmark runs without the FAISS rows.
find_library(QUARLEN_FAISS_LIBRARY faiss)
find_path(QUARLEN_FAISS_INCLUDE_DIR faiss/IndexFlat.h)
if(TARGET bench_engines AND QUARLEN_FAISS_LIBRARY AND QUARLEN_FAISS_INCLUDE_DIR)
  find_package(OpenMP REQUIRED)
  find_package(LAPACK REQUIRED)
  find_package(BLAS REQUIRED)
  target_include_directories(bench_engines SYSTEM PRIVATE ${QUARLEN_FAISS_INCLUDE_DIR})
  target_link_libraries(bench_engines PRIVATE ${QUARLEN_FAISS_LIBRARY} OpenMP::OpenMP_CXX
                        ${LAPACK_LIBRARIES} ${BLAS_LIBRARIES})
  target_compile_definitions(bench_engines PRIVATE QUARLEN_BENCH_WITH_FAISS=1)
  message(STATUS "bench_engines compares with FAISS: ${QUARLEN_FAISS_LIBRARY}")
endif()
