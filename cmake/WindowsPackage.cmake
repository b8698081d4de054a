# The folder a Windows user unzips and runs (MultiBuf-win64/ in this build):
# the program, its card library and host, the Qt DLLs and plugins it loads,
# the compiler's runtime DLLs that Qt's DLLs import, Qt's licence and a short
# readme. Made by every build, so the tests run on exactly what users get;
# scripts/windows zips it.
set(MULTIBUF_PACKAGE_DIR ${PROJECT_BINARY_DIR}/MultiBuf-win64)
# The Debian source version the kit was built from, as its stamp names it.
set(MULTIBUF_QT_SOURCE_VERSION ${Qt6_VERSION})
if(EXISTS ${QT6_INSTALL_PREFIX}/multibuf-kit-complete)
    file(READ ${QT6_INSTALL_PREFIX}/multibuf-kit-complete stamp)
    if(stamp MATCHES "qt6-base ([^, \n]+)")
        set(MULTIBUF_QT_SOURCE_VERSION ${CMAKE_MATCH_1})
    endif()
endif()
get_filename_component(qt_plugins "${QT6_INSTALL_PREFIX}/${QT6_INSTALL_PLUGINS}" ABSOLUTE)
string(REPLACE "-g++-posix" "-strip" strip_x64 ${CMAKE_CXX_COMPILER})
find_program(MULTIBUF_STRIP_X64 NAMES ${strip_x64} x86_64-w64-mingw32-strip REQUIRED)
find_program(MULTIBUF_STRIP_I686 NAMES i686-w64-mingw32-strip)
add_custom_target(package_folder ALL
    COMMAND ${CMAKE_COMMAND}
        -DDEST=${MULTIBUF_PACKAGE_DIR}
        -DPROGRAM_DIR=${MULTIBUF_PROGRAM_DIR}
        -DQT_BIN=${MULTIBUF_QT_BIN}
        -DQT_PLUGINS=${qt_plugins}
        -DQT_VERSION=${MULTIBUF_QT_SOURCE_VERSION}
        "-DRUNTIME=${MULTIBUF_CXX_RUNTIME_DIR}/libstdc++-6.dll;${MULTIBUF_CXX_RUNTIME_DIR}/libgcc_s_seh-1.dll;${MULTIBUF_PTHREAD_RUNTIME}"
        -DSTRIP_X64=${MULTIBUF_STRIP_X64}
        -DSTRIP_I686=${MULTIBUF_STRIP_I686}
        -DTEMPLATES=${CMAKE_CURRENT_LIST_DIR}/windows
        -P ${CMAKE_CURRENT_LIST_DIR}/windows/AssembleFolder.cmake
    DEPENDS multibuf tovira win32_host
    COMMENT "Assembling ${MULTIBUF_PACKAGE_DIR}"
    VERBATIM)
