# What the Windows build takes from the build machine, which the toolchain file keeps out of
# reach otherwise.

# CLI11 and JSON for Modern C++ are header-only: Debian's copies serve any target. Each gets
# an include folder holding only its own headers, never the whole of /usr/include, whose C
# library headers would stand in for mingw-w64's.
set(QUILLNET_HOST_INCLUDE /usr/include CACHE PATH
    "Where the Debian packages libcli11-dev and nlohmann-json3-dev put their headers")
function(quillnet_header_only_library target folder)
  if(NOT EXISTS ${QUILLNET_HOST_INCLUDE}/${folder})
    message(FATAL_ERROR "${QUILLNET_HOST_INCLUDE}/${folder} is missing: install its Debian package")
  endif()
  set(include ${PROJECT_BINARY_DIR}/header-only/${folder})
  file(MAKE_DIRECTORY ${include})
  file(CREATE_LINK ${QUILLNET_HOST_INCLUDE}/${folder} ${include}/${folder} SYMBOLIC)
  add_library(${target} INTERFACE IMPORTED GLOBAL)
  target_include_directories(${target} SYSTEM INTERFACE ${include})
endfunction()
quillnet_header_only_library(CLI11::CLI11 CLI)
quillnet_header_only_library(nlohmann_json::nlohmann_json nlohmann)

# Wine runs the tests and their discovery. Its own prefix in the build folder keeps runs apart
# from the user's ~/.wine and from each other; one set by the caller wins.
set(QUILLNET_WINE_PREFIX ${PROJECT_BINARY_DIR}/wine CACHE PATH "The WINEPREFIX the tests run in")
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${PROJECT_SOURCE_DIR}/cmake/wine-run.sh ${QUILLNET_WINE_PREFIX})
