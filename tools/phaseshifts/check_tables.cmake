# Regenerates the phase-shift tables and compares them with the committed file.
execute_process(COMMAND ${GENERATOR} ${OUTPUT} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "make_phaseshift_tables failed (${rc})")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUTPUT} ${REFERENCE} RESULT_VARIABLE differ)
if(NOT differ EQUAL 0)
  message(FATAL_ERROR "${REFERENCE} differs from the generator's output ${OUTPUT}; "
                      "rebuild it with make_phaseshift_tables")
endif()
