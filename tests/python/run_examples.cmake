# Runs the Python examples as a user would: the pp correlation plot (which
# computes the pp kernel through Python into a fresh directory), the main job
# in its layout with that kernel and a fixed seed, then the fit of its output.
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

function(run what dir)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env PYTHONPATH=${PYTHONPATH} MPLBACKEND=Agg FEMTOKIT_SEED=2024
    ${ARGN} WORKING_DIRECTORY ${dir} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(rc)
    message(FATAL_ERROR "${what} failed (${rc}): ${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

run("pp_correlation.py" ${WORK_DIR} ${PYTHON} ${EXAMPLES_DIR}/pp_correlation.py --kernel ${WORK_DIR}/kdata/pp
  --pars ${DATA_DIR}/pp --output ${WORK_DIR}/pp_correlation.png)
# The Coulomb hole at the first q bin, the 1S0 peak above 1 near 20 MeV/c.
if(NOT out MATCHES "\n +1\\.00  0\\.0" OR NOT out MATCHES "\n +19\\.00  1\\." OR NOT EXISTS ${WORK_DIR}/pp_correlation.png)
  message(FATAL_ERROR "pp_correlation.py gave an unexpected table or no plot:\n${out}")
endif()

set(job ${WORK_DIR}/job)
file(MAKE_DIRECTORY ${job}/run/parameters/pp ${job}/run/work ${job}/kdata)
file(COPY ${DATA_DIR}/pp/aparsCH_source.dat ${DATA_DIR}/pp/aparsCH_CF.dat ${DATA_DIR}/pp/kparameters.dat
  DESTINATION ${job}/run/parameters/pp)
file(COPY ${WORK_DIR}/kdata/pp/ DESTINATION ${job}/kdata/pp)
run("femtodriver" ${job}/run/work ${DRIVER})
run("fit_gx1d.py" ${job}/run/work ${PYTHON} ${EXAMPLES_DIR}/fit_gx1d.py)
# lambdaG 0.6 and R 5 fm within about 3 of their errors (about 0.007 and 0.03 fm).
if(NOT out MATCHES "lambdaG   (5\\.[89]|6\\.[01])[0-9]*e-01" OR NOT out MATCHES "\n +R   (4\\.9|5\\.0)[0-9]*e\\+00"
   OR NOT out MATCHES "bins=60, dof=58")
  message(FATAL_ERROR "fit_gx1d.py gave an unexpected table:\n${out}")
endif()
message(STATUS "${out}")

# iminuit on the cost of a fit agrees with the Newton fit (where iminuit is installed).
execute_process(COMMAND ${PYTHON} -c "import iminuit" RESULT_VARIABLE no_iminuit OUTPUT_QUIET ERROR_QUIET)
if(NOT no_iminuit)
  run("fit_iminuit.py" ${WORK_DIR} ${PYTHON} ${EXAMPLES_DIR}/fit_iminuit.py)
  if(NOT out MATCHES "\nagree\n")
    message(FATAL_ERROR "fit_iminuit.py: Minuit and Newton disagree:\n${out}")
  endif()
endif()
