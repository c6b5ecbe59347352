# Rebuilds the kill-feed data with the builder's defaults and compares it byte
# for byte with the committed data/hud/killfeed.bin.
execute_process(COMMAND "${BUILDER}" --killfeed "${OUT}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "corvex-build-model failed (${rc})")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${OUT}" "${REF}" RESULT_VARIABLE same)
if(NOT same EQUAL 0)
  message(FATAL_ERROR "the rebuilt kill-feed data ${OUT} differs from ${REF}; rebuild it with corvex-build-model --killfeed ${REF}")
endif()
