# Driver of the consumer_installed_package test (cmake -P). Inputs: QUARLEN_BUILD_DIR,
# CONSUMER_SOURCE_DIR, WORK_DIR, CONSUMER_GENERATOR, CONSUMER_CXX, CONSUMER_SANITIZE,
# QUARLEN_VERSION.
set(prefixL ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

# A sanitized library needs sanitized applications: build the consumer with the same options.
set(flagsL "")
if(CONSUMER_SANITIZE)
  string(REPLACE ";" "," _san "${CONSUMER_SANITIZE}")
  set(flagsL "-fsanitize=${_san} -fno-omit-frame-pointer")
endif()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rcL OUTPUT_VARIABLE outL ERROR_VARIABLE errL)
  if(NOT rcL EQUAL 0)
    message(FATAL_ERROR "failed (${rcL}): ${ARGN}\n${outL}\n${errL}")
  endif()
  set(runOutput "${outL}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install ${QUARLEN_BUILD_DIR} --prefix ${prefixL})

# 1. The CMake package.
run(${CMAKE_COMMAND} -S ${CONSUMER_SOURCE_DIR} -B ${WORK_DIR}/build -G ${CONSUMER_GENERATOR}
    -DCMAKE_CXX_COMPILER=${CONSUMER_CXX} -DCMAKE_PREFIX_PATH=${prefixL}
    "-DCMAKE_CXX_FLAGS=${flagsL}" "-DCMAKE_EXE_LINKER_FLAGS=${flagsL}")
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run(${WORK_DIR}/build/app)
if(NOT runOutput STREQUAL "consumer: ok\n")
  message(FATAL_ERROR "unexpected output of the CMake-built consumer: ${runOutput}")
endif()

# 2. pkg-config, from the same installed tree (the .pc file finds its prefix by itself).
find_program(PKG_CONFIG pkg-config)
if(NOT PKG_CONFIG)
  message(FATAL_ERROR "pkg-config not found")
endif()
set(ENV{PKG_CONFIG_PATH} "")
file(GLOB_RECURSE pcFilesL ${prefixL}/quarlen.pc)
list(LENGTH pcFilesL pcCountL)
if(NOT pcCountL EQUAL 1)
  message(FATAL_ERROR "expected one installed quarlen.pc, found: ${pcFilesL}")
endif()
get_filename_component(pcDirL ${pcFilesL} DIRECTORY)
set(ENV{PKG_CONFIG_PATH} ${pcDirL})
run(${PKG_CONFIG} --modversion quarlen)
string(STRIP "${runOutput}" versionL)
if(NOT versionL STREQUAL QUARLEN_VERSION)
  message(FATAL_ERROR "pkg-config reports version '${versionL}', expected '${QUARLEN_VERSION}'")
endif()
run(${PKG_CONFIG} --cflags quarlen)
separate_arguments(cflagsL UNIX_COMMAND "${runOutput}")
run(${PKG_CONFIG} --libs quarlen)
separate_arguments(libsL UNIX_COMMAND "${runOutput}")
separate_arguments(sanL UNIX_COMMAND "${flagsL}")
run(${CONSUMER_CXX} -std=c++17 ${sanL} ${cflagsL} ${CONSUMER_SOURCE_DIR}/main.cpp -o
    ${WORK_DIR}/app_pc ${libsL})
run(${PKG_CONFIG} --variable=libdir quarlen)
string(STRIP "${runOutput}" libDirL)
set(ENV{LD_LIBRARY_PATH} ${libDirL})
run(${WORK_DIR}/app_pc)
if(NOT runOutput STREQUAL "consumer: ok\n")
  message(FATAL_ERROR "unexpected output of the pkg-config-built consumer: ${runOutput}")
endif()
message(STATUS "consumer built and ran through find_package and pkg-config")
