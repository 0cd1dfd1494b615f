# Cross build for 64-bit Windows with Debian's mingw-w64 (posix threads).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# The header-only libraries (RapidJSON, {fmt} in header-only mode, Boost.UUID) come from the
# host, but /usr/include itself must never reach the cross compiler: its C headers are glibc's.
# Only those three folders are exposed, through links in a folder of the build tree.
set(BALISOR_HOTE "${CMAKE_BINARY_DIR}/hote-entetes")
foreach(bibliotheque rapidjson fmt boost)
  if(EXISTS "/usr/include/${bibliotheque}" AND NOT EXISTS "${BALISOR_HOTE}/include/${bibliotheque}")
    file(MAKE_DIRECTORY "${BALISOR_HOTE}/include")
    file(CREATE_LINK "/usr/include/${bibliotheque}" "${BALISOR_HOTE}/include/${bibliotheque}" SYMBOLIC)
  endif()
endforeach()

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 "${BALISOR_HOTE}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
