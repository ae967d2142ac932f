# Installs the build tree into a scratch prefix, builds the examples against
# it as a user would, and runs each: the free-boson check, the closed-loop
# image of a known source, the pp kernel from
# the shipped parameter files with the correlation function of a Gaussian
# source through it, the table of the array directory that wrote, and the
# main job run with that kernel followed by the fit of its output.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${FEMTOKIT_BINARY_DIR} --prefix ${prefix}
  RESULT_VARIABLE rc OUTPUT_QUIET)
if(rc)
  message(FATAL_ERROR "install failed")
endif()
set(extra)
if(SANITIZE)
  set(extra -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined)
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -S ${EXAMPLES_DIR} -B ${WORK_DIR}/build
  -DCMAKE_PREFIX_PATH=${prefix} ${extra} RESULT_VARIABLE rc OUTPUT_QUIET)
if(rc)
  message(FATAL_ERROR "examples configure failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/build RESULT_VARIABLE rc OUTPUT_QUIET)
if(rc)
  message(FATAL_ERROR "examples build failed")
endif()

function(run what)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${WORK_DIR} RESULT_VARIABLE rc OUTPUT_VARIABLE out
    ERROR_VARIABLE err)
  if(rc)
    message(FATAL_ERROR "${what} failed (${rc}): ${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

run("free_bosons" ${WORK_DIR}/build/free_bosons 4)
run("image_closed_loop" ${WORK_DIR}/build/image_closed_loop 0.01 1)
if(NOT out MATCHES "share beyond 10 fm")
  message(FATAL_ERROR "image_closed_loop gave an unexpected table:\n${out}")
endif()
run("ppkernel" ${prefix}/bin/ppkernel ${DATA_DIR}/pp/wfparameters.dat ${DATA_DIR}/pp/kparameters.dat
  ${WORK_DIR}/kdata_pp)
run("pp_correlation" ${WORK_DIR}/build/pp_correlation ${WORK_DIR}/kdata_pp ${DATA_DIR}/pp 3 ${WORK_DIR}/cf)
# The Coulomb hole at the first q bin, the 1S0 peak above 1 near 20 MeV/c.
if(NOT out MATCHES "\n +1\\.00  0\\.0" OR NOT out MATCHES "\n +19\\.00  1\\.")
  message(FATAL_ERROR "pp_correlation gave an unexpected table:\n${out}")
endif()
run("print_array" ${WORK_DIR}/build/print_array ${DATA_DIR}/pp/aparsCH_CF.dat ${WORK_DIR}/cf)
if(NOT out MATCHES "A\\(0,0,0\\)")
  message(FATAL_ERROR "print_array gave an unexpected table:\n${out}")
endif()

# The main job in its layout (scripts/run.sh), with that kernel and a fixed
# seed, and the fit of its output from its working directory.
set(job ${WORK_DIR}/job)
file(MAKE_DIRECTORY ${job}/run/parameters/pp ${job}/run/work ${job}/kdata)
file(COPY ${DATA_DIR}/pp/aparsCH_source.dat ${DATA_DIR}/pp/aparsCH_CF.dat ${DATA_DIR}/pp/kparameters.dat
  DESTINATION ${job}/run/parameters/pp)
file(COPY ${WORK_DIR}/kdata_pp/ DESTINATION ${job}/kdata/pp)
execute_process(COMMAND ${CMAKE_COMMAND} -E env FEMTOKIT_SEED=2024 ${prefix}/bin/femtodriver
  WORKING_DIRECTORY ${job}/run/work RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(rc)
  message(FATAL_ERROR "femtodriver failed (${rc}): ${out}${err}")
endif()
execute_process(COMMAND ${WORK_DIR}/build/fit_gx1d
  WORKING_DIRECTORY ${job}/run/work RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(rc)
  message(FATAL_ERROR "fit_gx1d failed (${rc}): ${out}${err}")
endif()
# lambdaG 0.6 and R 5 fm within about 3 of their errors (about 0.007 and 0.03 fm).
if(NOT out MATCHES "lambdaG   (5\\.[89]|6\\.[01])[0-9]*e-01" OR NOT out MATCHES "\n +R   (4\\.9|5\\.0)[0-9]*e\\+00"
   OR NOT out MATCHES "bins=60, dof=58")
  message(FATAL_ERROR "fit_gx1d gave an unexpected table:\n${out}")
endif()
