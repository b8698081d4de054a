# Assembles the Windows program folder (see WindowsPackage.cmake); run with
# cmake -P and the paths as -D definitions. The folder is made anew each time,
# so nothing of an earlier build or run (a Data.csv) stays in it.
file(REMOVE_RECURSE ${DEST})
file(MAKE_DIRECTORY ${DEST}/platforms ${DEST}/styles ${DEST}/licenses)

file(COPY ${PROGRAM_DIR}/multibuf.exe ${PROGRAM_DIR}/tovira.dll ${PROGRAM_DIR}/tovira-host.exe
     DESTINATION ${DEST})
file(COPY ${QT_BIN}/Qt6Core.dll ${QT_BIN}/Qt6Gui.dll ${QT_BIN}/Qt6Widgets.dll DESTINATION ${DEST})
file(COPY ${QT_PLUGINS}/platforms/qwindows.dll DESTINATION ${DEST}/platforms)
file(COPY ${QT_PLUGINS}/styles/qwindowsvistastyle.dll DESTINATION ${DEST}/styles)
file(COPY ${RUNTIME} DESTINATION ${DEST})

# Debug information stays in the build; users get the stripped files.
file(GLOB_RECURSE binaries ${DEST}/*.exe ${DEST}/*.dll)
foreach(binary IN LISTS binaries)
    get_filename_component(name ${binary} NAME)
    if(name STREQUAL "tovira-host.exe")
        if(STRIP_I686)
            execute_process(COMMAND ${STRIP_I686} --strip-unneeded ${binary} COMMAND_ERROR_IS_FATAL ANY)
        endif()
    else()
        execute_process(COMMAND ${STRIP_X64} --strip-unneeded ${binary} COMMAND_ERROR_IS_FATAL ANY)
    endif()
endforeach()

# Texts for Windows' Notepad: CRLF line ends; the templates are UTF-8 and
# begin with the byte order mark, which Notepad reads the encoding from.
function(windows_text source destination)
    file(READ ${source} text)
    string(CONFIGURE "${text}" text @ONLY)
    string(REPLACE "\r\n" "\n" text "${text}")
    string(REPLACE "\n" "\r\n" text "${text}")
    file(WRITE ${destination} "${text}")
endfunction()
windows_text(${TEMPLATES}/readme.txt.in ${DEST}/readme.txt)
windows_text(${TEMPLATES}/licenses.txt.in ${DEST}/licenses/README.txt)
foreach(licence LGPL-3 GPL-3 LGPL-2.1)
    file(READ /usr/share/common-licenses/${licence} text)
    string(REPLACE "\n" "\r\n" text "${text}")
    file(WRITE ${DEST}/licenses/${licence}.txt "${text}")
endforeach()
