# GoogleTest from Debian's googletest package, and TinyXML from Debian's
# patched source with the program's own patches on top (tools/deps.sh fetches
# and patches it). Both build without -Werror.

set(NY_GTEST_SOURCE "/usr/src/googletest" CACHE PATH "GoogleTest sources")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory("${NY_GTEST_SOURCE}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)

set(NY_TINYXML_DIR "${NY_THIRD_PARTY_DIR}/tinyxml")
if(NOT EXISTS "${NY_TINYXML_DIR}/tinyxml.cpp")
  message(FATAL_ERROR "TinyXML source missing in ${NY_TINYXML_DIR}: run 'make deps'")
endif()
# TinyXML without the program's patches would parse deeply nested text until
# the stack runs out: the copy must carry exactly the patches of the tree, as
# tools/deps.sh lists them in its stamp.
file(GLOB ny_tinyxml_patches CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/third_party/patches/tinyxml-*.patch")
set(ny_tinyxml_wanted "")
foreach(patch ${ny_tinyxml_patches})
  file(SHA256 "${patch}" hash)
  get_filename_component(name "${patch}" NAME)
  string(APPEND ny_tinyxml_wanted "${hash}  ${name}\n")
endforeach()
set(ny_tinyxml_stamp "${NY_TINYXML_DIR}/.ny-patches")
set(ny_tinyxml_applied "")
if(EXISTS "${ny_tinyxml_stamp}")
  file(READ "${ny_tinyxml_stamp}" ny_tinyxml_applied)
endif()
if(NOT ny_tinyxml_applied STREQUAL ny_tinyxml_wanted)
  message(FATAL_ERROR "TinyXML in ${NY_TINYXML_DIR} lacks the patches of third_party/patches: run 'make deps'")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${ny_tinyxml_stamp}" ${ny_tinyxml_patches})
add_library(tinyxml STATIC
  "${NY_TINYXML_DIR}/tinyxml.cpp"
  "${NY_TINYXML_DIR}/tinyxmlparser.cpp"
  "${NY_TINYXML_DIR}/tinyxmlerror.cpp"
  "${NY_TINYXML_DIR}/tinystr.cpp")
target_include_directories(tinyxml SYSTEM PUBLIC "${NY_TINYXML_DIR}")
target_compile_definitions(tinyxml PUBLIC TIXML_USE_STL)
target_compile_options(tinyxml PRIVATE -w)
