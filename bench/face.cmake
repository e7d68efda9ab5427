# bench_face compares the face library's Gabor jets with OpenCV's whole-image filtering, and
# reads the example configuration's face command file.
find_package(OpenCV REQUIRED COMPONENTS core imgproc)
target_link_libraries(bench_face PRIVATE opencv_core opencv_imgproc)
target_compile_definitions(bench_face PRIVATE QUARLEN_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
