# A card library with ConfigInfo only, for the missing-export error of the
# binding and of the host (tovira_partial.dll on Windows, as the card library
# has no "lib" either). The same target in the full build, beside the tests,
# and in the Windows cross builds of the Qt-free code.
#   tovira_partial_library(<folder it is built into>)
set(MULTIBUF_PARTIAL_LIBRARY_DIR ${CMAKE_CURRENT_LIST_DIR})

function(tovira_partial_library output_dir)
    add_library(tovira_partial SHARED ${MULTIBUF_PARTIAL_LIBRARY_DIR}/ConfigInfoOnlyLibrary.cpp)
    target_link_libraries(tovira_partial PRIVATE driver_api)
    set_target_properties(tovira_partial PROPERTIES
        CXX_VISIBILITY_PRESET hidden
        AUTOMOC OFF
        LIBRARY_OUTPUT_DIRECTORY ${output_dir}
        RUNTIME_OUTPUT_DIRECTORY ${output_dir})
    if(WIN32)
        # As the card library is built: nothing but system DLLs beside it, and
        # on 32-bit Windows the decorated name from the .def file alone.
        set_target_properties(tovira_partial PROPERTIES PREFIX "")
        target_link_options(tovira_partial PRIVATE -static)
        if(CMAKE_SIZEOF_VOID_P EQUAL 4)
            target_sources(tovira_partial PRIVATE
                ${MULTIBUF_PARTIAL_LIBRARY_DIR}/tovira-partial-win32.def)
        endif()
    endif()
endfunction()
