# GoogleTest from Debian's googletest package and TinyXML from Debian's
# patched source (fetched by tools/deps.sh). Both build without -Werror.

set(NY_GTEST_SOURCE "/usr/src/googletest" CACHE PATH "GoogleTest sources")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory("${NY_GTEST_SOURCE}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)

set(NY_TINYXML_DIR "${NY_THIRD_PARTY_DIR}/tinyxml")
if(NOT EXISTS "${NY_TINYXML_DIR}/tinyxml.cpp")
  message(FATAL_ERROR "TinyXML source missing in ${NY_TINYXML_DIR}: run 'make deps'")
endif()
add_library(tinyxml STATIC
  "${NY_TINYXML_DIR}/tinyxml.cpp"
  "${NY_TINYXML_DIR}/tinyxmlparser.cpp"
  "${NY_TINYXML_DIR}/tinyxmlerror.cpp"
  "${NY_TINYXML_DIR}/tinystr.cpp")
target_include_directories(tinyxml SYSTEM PUBLIC "${NY_TINYXML_DIR}")
target_compile_definitions(tinyxml PUBLIC TIXML_USE_STL)
target_compile_options(tinyxml PRIVATE -w)
