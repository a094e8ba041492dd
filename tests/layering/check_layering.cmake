# Fails when a library includes a header of one above it: the CPU-only
# folders may not reach into render/, and render's libraries reach only down.
# Run as: cmake -DSOURCE_DIR=<tree> -P check_layering.cmake

cmake_minimum_required(VERSION 3.25)

if(NOT SOURCE_DIR)
    message(FATAL_ERROR "layering: SOURCE_DIR is not set")
endif()

# The render folder a path lies in; files at render/'s top level sit above
# every library.
function(render_layer path out)
    if(path MATCHES "^render/(vk|device|model|raster|raytracing|interface)/")
        set(${out} "${CMAKE_MATCH_1}" PARENT_SCOPE)
    else()
        set(${out} "top" PARENT_SCOPE)
    endif()
endfunction()

# What each render library may include, itself among them: it links exactly
# these. Ray tracing and the rasteriser stand side by side.
set(allowed_vk vk)
set(allowed_device vk device)
set(allowed_model vk model)
set(allowed_raster vk model raster)
set(allowed_raytracing vk model raytracing)
set(allowed_interface vk model interface)
set(allowed_top vk device model raster raytracing interface top)

set(violations "")
foreach(folder core scene formats runtime platform ui render)
    file(GLOB_RECURSE files RELATIVE "${SOURCE_DIR}"
         "${SOURCE_DIR}/${folder}/*.h" "${SOURCE_DIR}/${folder}/*.cpp")
    list(SORT files)
    foreach(file IN LISTS files)
        file(STRINGS "${SOURCE_DIR}/${file}" includes
             REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]render/")
        foreach(line IN LISTS includes)
            string(REGEX REPLACE "^[^\"<]*[\"<]([^\">]*)[\">].*$" "\\1" header "${line}")
            if(folder STREQUAL "render")
                render_layer("${file}" from)
                render_layer("${header}" to)
                if(to IN_LIST allowed_${from})
                    continue()
                endif()
            endif()
            list(APPEND violations "${file} includes ${header}")
        endforeach()
    endforeach()
endforeach()

list(LENGTH violations count)
foreach(violation IN LISTS violations)
    message("${violation}")
endforeach()
if(count GREATER 0)
    message(FATAL_ERROR "layering: ${count} upward includes")
endif()
message("layering: no upward includes")
