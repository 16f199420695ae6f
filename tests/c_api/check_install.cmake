# Installs the settings client into a fresh prefix and builds a C program
# against it twice: with the flags of `pkg-config --cflags --libs
# settings-client`, and as a CMake project that uses find_package(SettingsClient)
# and links SettingsClient::settings_client.
#
#   cmake -DBUILD_DIR=... -DWORK_DIR=... -DCONSUMER=....c -DC_COMPILER=...
#         [-DTOOLCHAIN_FILE=...] [-DSANITIZE=address,...] -P check_install.cmake
#
# A library built with sanitizers needs their runtime: SANITIZE names them
# for the consumer builds.
foreach(input BUILD_DIR WORK_DIR CONSUMER C_COMPILER)
  if(NOT ${input})
    message(FATAL_ERROR "${input} not given")
  endif()
endforeach()

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output
                  ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${what} failed (${result}):\n${ARGN}\n${output}")
  endif()
endfunction()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
run("installation" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
    --component SettingsClient)

foreach(file include/settings_client/settings_client.h lib/libsettings_client.a
             lib/pkgconfig/settings-client.pc lib/cmake/SettingsClient/SettingsClientConfig.cmake
             lib/cmake/SettingsClient/SettingsClientConfigVersion.cmake
             lib/cmake/SettingsClient/SettingsClientTargets.cmake)
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()

# pkg-config, looking at the installed package only.
set(ENV{PKG_CONFIG_LIBDIR} ${prefix}/lib/pkgconfig)
unset(ENV{PKG_CONFIG_PATH})
execute_process(COMMAND pkg-config --cflags --libs settings-client
                RESULT_VARIABLE result OUTPUT_VARIABLE flags ERROR_VARIABLE flags
                OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "pkg-config does not know settings-client:\n${flags}")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
set(sanitize_flags "")
if(SANITIZE)
  set(sanitize_flags -fsanitize=${SANITIZE})
endif()
# The C compiler driver, not the C++ one: the library needs no C++ runtime.
run("build with pkg-config flags" ${C_COMPILER} -std=c99 -Wall -Wextra -Wpedantic -Werror
    ${sanitize_flags} ${CONSUMER} ${flags} -o ${WORK_DIR}/consumer-pkg-config)

# A CMake project written in C only.
set(project_dir ${WORK_DIR}/cmake-consumer)
file(MAKE_DIRECTORY ${project_dir})
configure_file(${CONSUMER} ${project_dir}/consumer.c COPYONLY)
file(WRITE ${project_dir}/CMakeLists.txt "
cmake_minimum_required(VERSION 3.25)
project(consumer LANGUAGES C)
find_package(SettingsClient 1 REQUIRED)
add_executable(consumer consumer.c)
target_link_libraries(consumer PRIVATE SettingsClient::settings_client)
")
set(configure_args -S ${project_dir} -B ${project_dir}/build -DCMAKE_PREFIX_PATH=${prefix}
    -DCMAKE_C_COMPILER=${C_COMPILER} "-DCMAKE_C_FLAGS=${sanitize_flags}")
if(TOOLCHAIN_FILE)
  # The toolchain confines package searches to the target's root; name the
  # package's directory outright.
  list(APPEND configure_args -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN_FILE}
       -DSettingsClient_DIR=${prefix}/lib/cmake/SettingsClient)
endif()
run("configuration of a find_package project" ${CMAKE_COMMAND} ${configure_args})
run("build of a find_package project" ${CMAKE_COMMAND} --build ${project_dir}/build)
message(STATUS "installed package builds with pkg-config and with find_package")
