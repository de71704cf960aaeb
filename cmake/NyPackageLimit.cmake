# Fails when PACKAGE is larger than LIMIT_MIB mebibytes.
#   cmake -DPACKAGE=path -DLIMIT_MIB=n -P NyPackageLimit.cmake
file(SIZE "${PACKAGE}" size)
math(EXPR limit "${LIMIT_MIB} * 1048576")
if(size GREATER limit)
  math(EXPR size_mib "${size} / 1048576")
  message(FATAL_ERROR "${PACKAGE} is ${size_mib} MiB: a 32-bit setup carries at most ${LIMIT_MIB} MiB")
endif()
