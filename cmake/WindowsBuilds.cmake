# Cross builds of the Qt-free parts with mingw-w64, each its own CMake build
# under this one (win32/, win64/), rebuilt with it.
include(ExternalProject)

function(multibuf_windows_build name toolchain compiler)
    find_program(${name}_compiler ${compiler})
    if(NOT ${name}_compiler)
        message(STATUS "${compiler} not found: no ${name} build (scripts/deps installs it)")
        return()
    endif()
    ExternalProject_Add(${name}
        SOURCE_DIR ${PROJECT_SOURCE_DIR}
        BINARY_DIR ${PROJECT_BINARY_DIR}/${name}
        CMAKE_ARGS -G Ninja -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/${toolchain}
                   -DCMAKE_BUILD_TYPE=Release -DMULTIBUF_CROSS_ONLY=ON ${ARGN}
        BUILD_ALWAYS ON
        INSTALL_COMMAND ""
        USES_TERMINAL_BUILD ON)
endfunction()

multibuf_windows_build(win32 mingw-i686.cmake i686-w64-mingw32-g++-posix)
set(MULTIBUF_WIN32_DIR ${PROJECT_BINARY_DIR}/win32)
if(WIN32)
    # The 64-bit program itself is this build. Its folder gets the 32-bit
    # host, which is what reaches the maker's 32-bit tovira.dll.
    if(TARGET win32)
        add_custom_target(win32_host ALL
            COMMAND ${CMAKE_COMMAND} -E copy_if_different ${MULTIBUF_WIN32_DIR}/bin/tovira-host.exe
                    ${MULTIBUF_PROGRAM_DIR}/tovira-host.exe
            DEPENDS win32
            COMMENT "32-bit tovira-host.exe beside the program")
        include(${CMAKE_CURRENT_LIST_DIR}/WindowsPackage.cmake)
    endif()
else()
    multibuf_windows_build(win64 mingw-x86_64.cmake x86_64-w64-mingw32-g++-posix
                           -DMULTIBUF_WERROR=ON)
endif()
