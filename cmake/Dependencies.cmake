# Third-party code is installed on the machine (Debian packages and source
# packages) and compiled or referenced from there, never copied into the repo.

# nlohmann-json is header only. Only its own folder is exposed to the cross
# build: the host's /usr/include must never reach the Windows compilers.
set(OSTREL_NLOHMANN_STAGE ${CMAKE_BINARY_DIR}/third_party/nlohmann-include)
if(NOT EXISTS /usr/include/nlohmann/json.hpp)
  message(FATAL_ERROR "nlohmann-json is missing: run tools/setup-deps.sh")
endif()
file(MAKE_DIRECTORY ${OSTREL_NLOHMANN_STAGE})
file(CREATE_LINK /usr/include/nlohmann ${OSTREL_NLOHMANN_STAGE}/nlohmann SYMBOLIC)
add_library(ostrel_nlohmann_json INTERFACE)
target_include_directories(ostrel_nlohmann_json SYSTEM INTERFACE ${OSTREL_NLOHMANN_STAGE})

# tinyxml2 from Debian's source package, compiled for the target.
file(GLOB OSTREL_TINYXML2_DIRS LIST_DIRECTORIES true ${OSTREL_DEPS_DIR}/tinyxml2-*)
list(FILTER OSTREL_TINYXML2_DIRS EXCLUDE REGEX "\\.(dsc|tar\\..*)$")
if(NOT OSTREL_TINYXML2_DIRS)
  message(FATAL_ERROR "tinyxml2 sources not found in ${OSTREL_DEPS_DIR}: run tools/setup-deps.sh")
endif()
list(GET OSTREL_TINYXML2_DIRS 0 OSTREL_TINYXML2_DIR)
add_library(ostrel_tinyxml2 STATIC ${OSTREL_TINYXML2_DIR}/tinyxml2.cpp)
target_include_directories(ostrel_tinyxml2 SYSTEM PUBLIC ${OSTREL_TINYXML2_DIR})
target_compile_options(ostrel_tinyxml2 PRIVATE -w)

# zlib for the target from Debian's libz-mingw-w64-dev (static: the programs
# must need no DLL beside them), found under the toolchain's root.
# Its header sits in the compiler's own include folder, which must not be
# passed again with -I (that breaks libstdc++'s #include_next).
find_library(OSTREL_ZLIB_LIBRARY NAMES libz.a)
find_path(OSTREL_ZLIB_INCLUDE_DIR zlib.h)
if(NOT OSTREL_ZLIB_LIBRARY OR NOT OSTREL_ZLIB_INCLUDE_DIR)
  message(FATAL_ERROR "zlib for ${CMAKE_SYSTEM_PROCESSOR} Windows is missing (libz-mingw-w64-dev): run tools/setup-deps.sh")
endif()
add_library(ostrel_zlib STATIC IMPORTED)
set_target_properties(ostrel_zlib PROPERTIES IMPORTED_LOCATION ${OSTREL_ZLIB_LIBRARY})

# minizip (ZIP reading, wide-character paths through iowin32) from the
# contrib folder of Debian's zlib source package, compiled for the target.
# Passwords are not supported: the wizard never gets any.
file(GLOB OSTREL_ZLIB_SOURCE_DIRS LIST_DIRECTORIES true ${OSTREL_DEPS_DIR}/zlib-*)
set(OSTREL_MINIZIP_DIR "")
foreach(candidate ${OSTREL_ZLIB_SOURCE_DIRS})
  if(EXISTS ${candidate}/contrib/minizip/unzip.c)
    set(OSTREL_MINIZIP_DIR ${candidate}/contrib/minizip)
    break()
  endif()
endforeach()
if(NOT OSTREL_MINIZIP_DIR)
  message(FATAL_ERROR "minizip sources (zlib source package) not found in ${OSTREL_DEPS_DIR}: run tools/setup-deps.sh")
endif()
function(ostrel_add_minizip_library target)
  add_library(${target} STATIC ${ARGN})
  target_include_directories(${target} SYSTEM PUBLIC ${OSTREL_MINIZIP_DIR})
  target_compile_definitions(${target} PUBLIC NOCRYPT NOUNCRYPT)
  target_compile_options(${target} PRIVATE -w)
  target_link_libraries(${target} PUBLIC ostrel_zlib)
endfunction()
ostrel_add_minizip_library(ostrel_minizip
  ${OSTREL_MINIZIP_DIR}/ioapi.c ${OSTREL_MINIZIP_DIR}/iowin32.c ${OSTREL_MINIZIP_DIR}/unzip.c)
# The writing half only serves the tests, which build their archives with it.
if(OSTREL_BUILD_TESTS)
  ostrel_add_minizip_library(ostrel_minizip_writer ${OSTREL_MINIZIP_DIR}/zip.c)
  target_link_libraries(ostrel_minizip_writer PUBLIC ostrel_minizip)
endif()

# GoogleTest from Debian's sources, built for the target.
if(OSTREL_BUILD_TESTS)
  if(NOT EXISTS /usr/src/googletest/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest sources are missing: run tools/setup-deps.sh")
  endif()
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/third_party/googletest EXCLUDE_FROM_ALL)
  foreach(gtest_target gtest gtest_main gmock gmock_main)
    if(TARGET ${gtest_target})
      target_compile_options(${gtest_target} PRIVATE -w)
    endif()
  endforeach()
endif()
