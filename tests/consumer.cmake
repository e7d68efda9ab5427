# Builds a small application against the installed package, as a user of the library would:
# installs this build into a temporary prefix, then builds tests/consumer once through
# find_package(Quarlen) and once through pkg-config, and runs both.
add_test(NAME consumer_installed_package
         COMMAND ${CMAKE_COMMAND}
                 -DQUARLEN_BUILD_DIR=${PROJECT_BINARY_DIR}
                 -DCONSUMER_SOURCE_DIR=${CMAKE_CURRENT_SOURCE_DIR}/consumer
                 -DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/consumer-work
                 -DCONSUMER_GENERATOR=${CMAKE_GENERATOR}
                 -DCONSUMER_CXX=${CMAKE_CXX_COMPILER}
                 "-DCONSUMER_SANITIZE=${QUARLEN_SANITIZE}"
                 -DQUARLEN_VERSION=${PROJECT_VERSION}
                 -P ${CMAKE_CURRENT_SOURCE_DIR}/consumer/run_consumer.cmake)
set_tests_properties(consumer_installed_package PROPERTIES TIMEOUT 600)
