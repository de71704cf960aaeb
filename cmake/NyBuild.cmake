# Compiler and linker settings shared by every target of the project.

set(NY_WARNINGS -Wall -Wextra -Werror)

if(WIN32)
  add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
  # Static runtime: the program must run on a bare system with only system DLLs.
  add_link_options(-static -static-libgcc -static-libstdc++ -s
                   -Wl,--dynamicbase -Wl,--nxcompat)
else()
  option(NY_SANITIZE "Build host code with ASan and UBSan" ON)
  if(NY_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
  endif()
endif()

# Project code gets the warnings as errors; third-party code does not.
function(ny_project_target target)
  target_compile_options(${target} PRIVATE ${NY_WARNINGS})
endfunction()

set(NY_WINE_ROOT "${CMAKE_SOURCE_DIR}/build/wine" CACHE PATH "Where the Wine test prefixes live")

# The Wine prefixes a Windows test runs in. The 32-bit build runs in the
# 64-bit (WOW64) prefix and in the 32-bit one; the 64-bit build runs in a
# 64-bit prefix of its own through Wine's 64-bit loader, which works also
# where the kernel cannot start 32-bit programs. The prefix name is the
# test's label, so make can run one prefix at a time.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(NY_WINE_PREFIXES x64)
else()
  set(NY_WINE_PREFIXES win64 win32)
endif()

function(ny_add_wine_test name target)
  cmake_parse_arguments(ARG "" "" "ARGS" ${ARGN})
  foreach(arch ${NY_WINE_PREFIXES})
    add_test(NAME ${arch}.${name}
             COMMAND ${CMAKE_SOURCE_DIR}/tools/wine-run.sh ${arch} $<TARGET_FILE:${target}> ${ARG_ARGS})
    # The runner gives up on a test that hangs (the longest takes under a
    # minute), so one hang cannot use up a whole CI run.
    set_tests_properties(${arch}.${name} PROPERTIES
      LABELS ${arch}
      ENVIRONMENT "NY_WINE_ROOT=${NY_WINE_ROOT}"
      RESOURCE_LOCK wine-${arch}
      TIMEOUT 600)
  endforeach()
endfunction()

function(ny_add_host_test name target)
  add_test(NAME host.${name} COMMAND ${target} ${ARGN})
  set_tests_properties(host.${name} PROPERTIES LABELS host)
endfunction()

# Test executables carry a version resource so the logger's version field is
# exercised; the file version is the one given.
function(ny_add_version_resource target description version_commas version_dots)
  if(NOT WIN32)
    return()
  endif()
  set(NY_RC_DESCRIPTION "${description}")
  set(NY_RC_VERSION_COMMAS "${version_commas}")
  set(NY_RC_VERSION_DOTS "${version_dots}")
  set(NY_RC_ORIGINAL "${target}.exe")
  set(rc "${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc")
  configure_file("${CMAKE_SOURCE_DIR}/cmake/version.rc.in" "${rc}" @ONLY)
  target_sources(${target} PRIVATE "${rc}")
endfunction()

# Embeds the shipped package (made in wizard/) as the package resource of a
# test or benchmark program, which then runs the shipped script.
function(ny_embed_shipped_package target)
  set(bin "${CMAKE_BINARY_DIR}/wizard/package.bin")
  set(rc "${CMAKE_CURRENT_BINARY_DIR}/${target}_shipped_package.rc")
  file(CONFIGURE OUTPUT "${rc}" CONTENT "136 256 \"${bin}\"\n" @ONLY)
  set_source_files_properties("${rc}" PROPERTIES OBJECT_DEPENDS "${bin}")
  target_sources(${target} PRIVATE "${rc}")
  add_dependencies(${target} ny_shipped_package)
endfunction()
