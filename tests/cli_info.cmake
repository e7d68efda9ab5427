# `quarlen info` names the configuration file it found and the diagnostic level, which starts
# from TOLM_QUARLEN_DEBUG_LEVEL.
if(TARGET quarlen_cli)
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/cli-info/quarlen.ini "[TEMPLATE_MATCHING]\nkey = 1\n")
  add_test(NAME cli_info_found_configuration COMMAND quarlen_cli info)
  set_tests_properties(cli_info_found_configuration PROPERTIES
    ENVIRONMENT "TOLM_COMMON_DIR=${CMAKE_CURRENT_BINARY_DIR}/cli-info;QUARLEN_CONFIG_FILE=;TOLM_QUARLEN_DEBUG_LEVEL=4"
    PASS_REGULAR_EXPRESSION
      "configuration file: [^\n]*/cli-info/quarlen.ini \\(TOLM_COMMON_DIR\\)\ndebug level: +4\n")
  add_test(NAME cli_info_without_configuration COMMAND quarlen_cli info)
  set_tests_properties(cli_info_without_configuration PROPERTIES
    ENVIRONMENT "TOLM_COMMON_DIR=;QUARLEN_CONFIG_FILE=;TOLM_QUARLEN_DEBUG_LEVEL="
    PASS_REGULAR_EXPRESSION
      "configuration file: none \\(neither QUARLEN_CONFIG_FILE nor TOLM_COMMON_DIR is set\\)\ndebug level: +0\n")
  # QUARLEN_CPU_LEVEL caps the kernels below the AVX-512 bit count, and `info` shows it.
  add_test(NAME cli_info_cpu_level_capped COMMAND quarlen_cli info)
  set_tests_properties(cli_info_cpu_level_capped PROPERTIES
    ENVIRONMENT "QUARLEN_CPU_LEVEL=avx512"
    PASS_REGULAR_EXPRESSION "kernel level: +(avx512|avx2|sse41|scalar)\n")
endif()
