# quarlen descriptor on the committed descriptor seeds: a face descriptor with every streamed
# item (listing and image files), an iris descriptor, and a file that holds no descriptor.
if(TARGET quarlen_cli)
  set(_seeds ${PROJECT_SOURCE_DIR}/fuzz/seeds)
  add_test(NAME cli_descriptor_face COMMAND quarlen_cli descriptor ${_seeds}/fuzz_descriptor/face_full.bin)
  set_tests_properties(cli_descriptor_face PROPERTIES PASS_REGULAR_EXPRESSION
    "kind: +face \\(1\\).*texture image +16x12 colour.*landmark graph +5 nodes, 0 edges")
  add_test(NAME cli_descriptor_images
           COMMAND quarlen_cli descriptor ${_seeds}/fuzz_descriptor/face_full.bin
                   --write-images ${CMAKE_CURRENT_BINARY_DIR}/descriptor_images)
  set_tests_properties(cli_descriptor_images PROPERTIES PASS_REGULAR_EXPRESSION
    "wrote [^\n]*texture\\.png\nwrote [^\n]*derotated\\.png\nwrote [^\n]*feature_extraction\\.png")
  add_test(NAME cli_descriptor_iris COMMAND quarlen_cli descriptor ${_seeds}/fuzz_descriptor/iris.bin)
  set_tests_properties(cli_descriptor_iris PROPERTIES PASS_REGULAR_EXPRESSION
    "kind: +iris \\(3\\).*instance: +irisLeft \\(200\\)")
  add_test(NAME cli_descriptor_not_a_descriptor
           COMMAND quarlen_cli descriptor ${_seeds}/fuzz_id_record/empty.qx)
  set_tests_properties(cli_descriptor_not_a_descriptor PROPERTIES PASS_REGULAR_EXPRESSION
    "is not a readable descriptor: BioDescriptor::create:  Invalid Magic Number")
  add_test(NAME cli_descriptor_exit_code
           COMMAND quarlen_cli descriptor ${_seeds}/fuzz_id_record/empty.qx)
  set_tests_properties(cli_descriptor_exit_code PROPERTIES WILL_FAIL TRUE)
endif()
