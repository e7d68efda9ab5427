# The gallery commands' tests run the quarlen tool itself.
find_package(nlohmann_json 3 REQUIRED)
target_link_libraries(quarlen_tests PRIVATE nlohmann_json::nlohmann_json)
if(TARGET quarlen_cli)
  add_dependencies(quarlen_tests quarlen_cli)
  target_compile_definitions(quarlen_tests PRIVATE QUARLEN_CLI="$<TARGET_FILE:quarlen_cli>")
endif()
