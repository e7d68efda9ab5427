# quarlen verify-images and enrol-image on photographs of the opencv-doc package (the tests are
# left out when the package is not installed).
set(_photos /usr/share/doc/opencv-doc/opencv4/html)
set(_no_face /usr/share/doc/opencv-doc/examples/data/baboon.jpg)
if(TARGET quarlen_cli AND EXISTS ${_photos}/227943776_1.jpg AND EXISTS ${_no_face})
  add_test(NAME cli_verify_images_same_face
           COMMAND quarlen_cli verify-images ${_photos}/227943776_1.jpg ${_photos}/227943776_1.jpg)
  set_tests_properties(cli_verify_images_same_face PROPERTIES PASS_REGULAR_EXPRESSION
    "probe   [^\n]*: right eye \\([0-9.]+, [0-9.]+\\), left eye \\([0-9.]+, [0-9.]+\\)\ngallery [^\n]*\nscore: 1\\.0000\n")
  add_test(NAME cli_verify_images_no_face
           COMMAND quarlen_cli verify-images ${_photos}/227943776_1.jpg ${_no_face})
  set_tests_properties(cli_verify_images_no_face PROPERTIES PASS_REGULAR_EXPRESSION
    "quarlen verify-images: No face found in the image\\.")
  add_test(NAME cli_verify_images_exit_code
           COMMAND quarlen_cli verify-images ${_photos}/227943776_1.jpg ${_no_face})
  set_tests_properties(cli_verify_images_exit_code PROPERTIES WILL_FAIL TRUE)
  add_test(NAME cli_enrol_image
           COMMAND ${CMAKE_COMMAND} -DQUARLEN=$<TARGET_FILE:quarlen_cli>
                   -DCONFIG_SOURCE=${PROJECT_SOURCE_DIR}/data
                   -DWORK=${CMAKE_CURRENT_BINARY_DIR}/cli_enrol_image
                   -DPHOTOS=${_photos}
                   -P ${CMAKE_CURRENT_SOURCE_DIR}/cli/enrol_image.cmake-script)
endif()
