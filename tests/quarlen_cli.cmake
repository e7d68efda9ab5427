# The record commands of the quarlen tool on committed record files: a valid identity record,
# an empty one (which fails validation) and a template record (which is not an identity record).
if(TARGET quarlen_cli)
  set(_seeds ${PROJECT_SOURCE_DIR}/fuzz/seeds)
  add_test(NAME cli_validate_valid COMMAND quarlen_cli validate ${_seeds}/fuzz_id_record/random.qx2)
  set_tests_properties(cli_validate_valid PROPERTIES
    PASS_REGULAR_EXPRESSION "validationSuccessful    = \"true\"    >")
  add_test(NAME cli_validate_empty COMMAND quarlen_cli validate ${_seeds}/fuzz_id_record/empty.qx)
  set_tests_properties(cli_validate_empty PROPERTIES WILL_FAIL TRUE)
  add_test(NAME cli_validate_not_a_record
           COMMAND quarlen_cli validate ${_seeds}/fuzz_template/empty.tp)
  set_tests_properties(cli_validate_not_a_record PROPERTIES WILL_FAIL TRUE)
  add_test(NAME cli_validate_not_a_record_message
           COMMAND quarlen_cli validate ${_seeds}/fuzz_template/empty.tp)
  set_tests_properties(cli_validate_not_a_record_message PROPERTIES
    PASS_REGULAR_EXPRESSION "is not a readable identity record: kxxcp caught: Invalid IdRecord magic number: 'TP'\\.")
  add_test(NAME cli_dump COMMAND quarlen_cli dump ${_seeds}/fuzz_id_record/random.qx2)
  set_tests_properties(cli_dump PROPERTIES PASS_REGULAR_EXPRESSION "^<idRecord\n\tpersonId\t   =    \"")
  add_test(NAME cli_dump_missing_file COMMAND quarlen_cli dump ${_seeds}/no_such_file)
  set_tests_properties(cli_dump_missing_file PROPERTIES WILL_FAIL TRUE)
endif()
