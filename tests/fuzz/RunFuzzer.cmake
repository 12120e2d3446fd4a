# Runs one fuzzer on a fresh copy of its seed corpus, so new inputs never land
# in the repository; crash inputs are kept next to the copy for reproducing.
foreach(var FUZZER CORPUS DICT WORK SECONDS MAX_LEN)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "RunFuzzer.cmake needs -D${var}=…")
    endif()
endforeach()

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/artifacts)
file(COPY ${CORPUS}/ DESTINATION ${WORK}/corpus)

execute_process(
    COMMAND ${FUZZER} -seed=1 -max_total_time=${SECONDS} -max_len=${MAX_LEN} -timeout=10 -rss_limit_mb=2048
            -dict=${DICT} -print_final_stats=1 -artifact_prefix=${WORK}/artifacts/ ${WORK}/corpus
    RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    file(GLOB found ${WORK}/artifacts/*)
    message(FATAL_ERROR "${FUZZER} failed (${status}); reproduce with: ${FUZZER} ${found}")
endif()
