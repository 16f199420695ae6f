# Compiler settings shared by every target of the project.
#
# project_warnings: warnings as errors for our own code.
# project_product_code: what library and daemon code must honour on the
#   device: no exceptions, no RTTI, no thread-safe statics (they would pull in
#   the C++ runtime).
#
# Every 32-bit build (the device is one) uses glibc's 64-bit time_t and file
# offsets, for every target alike, so that clock arithmetic survives 2038 and
# test code and product code agree on the layout of time values.

# A toolchain file given by a relative path (as the README shows it) is
# recorded with its full path, so that tests which configure projects of
# their own can hand it on.
if(CMAKE_TOOLCHAIN_FILE AND NOT IS_ABSOLUTE "${CMAKE_TOOLCHAIN_FILE}")
  foreach(base ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR})
    if(EXISTS "${base}/${CMAKE_TOOLCHAIN_FILE}")
      get_filename_component(toolchain "${base}/${CMAKE_TOOLCHAIN_FILE}" ABSOLUTE)
      set(CMAKE_TOOLCHAIN_FILE "${toolchain}" CACHE FILEPATH "The CMake toolchain file" FORCE)
      break()
    endif()
  endforeach()
endif()

# Cross builds run their tests under emulation; a settings-server program
# built for the build machine serves the tests that start the server as a
# process of its own (and is the peer of the cross-ABI test).
set(NTPSYNCD_NATIVE_SETTINGS_SERVER "" CACHE FILEPATH
  "Cross builds: settings-server built for the build machine, used by tests")

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  add_compile_definitions(_TIME_BITS=64 _FILE_OFFSET_BITS=64)
endif()

# GCC on ARM notes that the passing of some C++ library types changed in
# GCC 7.1; everything here is built by one compiler, so the note says nothing.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^arm" AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-Wno-psabi>)
endif()

add_library(project_warnings INTERFACE)
target_compile_options(project_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Werror -Wshadow -Wcast-align -Wformat=2
  -Wnull-dereference -Wdouble-promotion -Wimplicit-fallthrough)

add_library(project_product_code INTERFACE)
target_compile_options(project_product_code INTERFACE
  $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti -fno-threadsafe-statics>)

if(NTPSYNCD_SANITIZE)
  add_compile_options(-fsanitize=${NTPSYNCD_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${NTPSYNCD_SANITIZE})
endif()
