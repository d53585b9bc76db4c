# Builds one example into a program of its own, as a user does in the folder that holds the
# example's rack file (cmake -DRUNNER=... -DNAME=... -DOUT=... [-DRUN_IN=folder] -P this file).
# Fails unless the build ends with status 0 having packed the rack. With RUN_IN, the built
# program is then started in that (emptied) folder: it must restore its rack there, run the
# script to its end and end with status 0.
execute_process(COMMAND ${RUNNER} --build ${NAME}.nvs ${OUT}
    RESULT_VARIABLE status OUTPUT_VARIABLE log ERROR_VARIABLE errors)
message("${log}${errors}")
if(NOT status EQUAL 0)
    message(FATAL_ERROR "the build ended with status ${status}")
endif()
if(NOT log MATCHES "Found rack ${NAME}.res")
    message(FATAL_ERROR "the build did not pack ${NAME}.res")
endif()
if(NOT EXISTS ${OUT})
    message(FATAL_ERROR "no program was written to ${OUT}")
endif()
if(DEFINED RUN_IN)
    file(REMOVE_RECURSE ${RUN_IN})
    file(MAKE_DIRECTORY ${RUN_IN})
    execute_process(COMMAND ${OUT} WORKING_DIRECTORY ${RUN_IN}
        RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE errors TIMEOUT 170)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "the built program ended with status ${status}: ${out}${errors}")
    endif()
    if(NOT EXISTS ${RUN_IN}/${NAME}.res)
        message(FATAL_ERROR "the built program did not restore ${NAME}.res")
    endif()
    foreach(file ${EXPECT_FILES})
        if(NOT EXISTS ${RUN_IN}/${file})
            message(FATAL_ERROR "the built program's script did not write ${file}")
        endif()
    endforeach()
endif()
