# The fitter of the l2f and l2f360 score-mapping files in data/scoremapping (not a benchmark):
#   fit_finger_mapping <folder> [impostor comparisons]
add_executable(fit_finger_mapping ${CMAKE_CURRENT_SOURCE_DIR}/fit_finger_mapping.cpp)
target_link_libraries(fit_finger_mapping PRIVATE qrlfinger)
# bench_finger reads the shipped mapping files.
target_compile_definitions(bench_finger PRIVATE QUARLEN_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
