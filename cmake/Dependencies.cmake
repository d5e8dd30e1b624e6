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
