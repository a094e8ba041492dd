# Runs qv-pose on the shared model with one motion and checks its JSON.
if(NOT EXISTS "${CONTENT}/gene/Gene_light.pmx")
    message(STATUS "shared content not found; nothing to check")
    return()
endif()
execute_process(
    COMMAND "${QV_POSE}" "${CONTENT}/gene/Gene_light.pmx" "${CONTENT}/gene/motion/02_laugh.vmd"
            --frame 45 --json
    OUTPUT_VARIABLE out
    RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "qv-pose exited with ${rc}")
endif()
string(JSON time GET "${out}" time)
string(JSON bones LENGTH "${out}" bones)
string(JSON name GET "${out}" bones 0 name)
string(JSON frame LENGTH "${out}" bones 0 frame)
string(JSON rotation LENGTH "${out}" bones 0 rotation)
string(JSON morphs LENGTH "${out}" morphs)
if(NOT bones EQUAL 224 OR NOT frame EQUAL 3 OR NOT rotation EQUAL 4 OR morphs LESS 1
   OR time LESS 1.49 OR time GREATER 1.51 OR name STREQUAL "")
    message(FATAL_ERROR "unexpected output: time ${time}, ${bones} bones, ${morphs} morphs")
endif()
execute_process(COMMAND "${QV_POSE}" RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
if(NOT rc EQUAL 2)
    message(FATAL_ERROR "qv-pose without arguments exited with ${rc}, expected 2")
endif()
