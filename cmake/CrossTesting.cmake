# Tests of a cross build: GoogleTest compiled for the target from Debian's
# sources (package googletest), and for Windows, Wine to run the programs.

set(ZORM_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources to build for the target")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${ZORM_GTEST_SOURCE_DIR}/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

if(WIN32)
    # Each build has a Wine prefix of its own; scripts/test-windows makes it
    # before the first test program runs. No Mono or Gecko: Wine would stop
    # and ask to install them.
    set(ZORM_WINEPREFIX "${CMAKE_BINARY_DIR}/wine" CACHE PATH "Wine prefix that the tests run in")
    if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
        find_program(ZORM_WINE wine REQUIRED)
        set(CMAKE_CROSSCOMPILING_EMULATOR
            env "WINEPREFIX=${ZORM_WINEPREFIX}" "WINEDLLOVERRIDES=mscoree,mshtml=" WINEDEBUG=-all
            ${ZORM_WINE})
    endif()
endif()
