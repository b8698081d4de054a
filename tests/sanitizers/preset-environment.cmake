# Prints the environment one test preset of CMakePresets.json sets, a
# NAME=value line for each variable, with ${sourceDir} made the checkout's
# folder as CMake makes it. For shells that run what CTest runs under that
# preset (options.sh), so the values are kept in one place.
#   cmake -DPRESET=<test preset> -P preset-environment.cmake
cmake_minimum_required(VERSION 3.25)
get_filename_component(source_dir "${CMAKE_CURRENT_LIST_DIR}/../.." ABSOLUTE)
file(READ "${source_dir}/CMakePresets.json" presets)
string(JSON count LENGTH "${presets}" testPresets)
math(EXPR last "${count} - 1")
foreach(i RANGE ${last})
    string(JSON name GET "${presets}" testPresets ${i} name)
    if(NOT name STREQUAL PRESET)
        continue()
    endif()
    string(JSON variables LENGTH "${presets}" testPresets ${i} environment)
    math(EXPR last_variable "${variables} - 1")
    foreach(j RANGE ${last_variable})
        string(JSON variable MEMBER "${presets}" testPresets ${i} environment ${j})
        string(JSON value GET "${presets}" testPresets ${i} environment ${variable})
        string(REPLACE "\${sourceDir}" "${source_dir}" value "${value}")
        execute_process(COMMAND ${CMAKE_COMMAND} -E echo "${variable}=${value}")
    endforeach()
    return()
endforeach()
message(FATAL_ERROR "CMakePresets.json has no test preset '${PRESET}'")
