# cmake -P script: install, then build and run the sample host two ways.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed: ${ARGN}\n${out}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

# 1. find_package(VKTDlg) -> VKTDlg::vktdlg
run(${CMAKE_COMMAND} -S ${HOST_DIR} -B ${WORK_DIR}/cmake-host -G Ninja
    -DCMAKE_PREFIX_PATH=${prefix})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/cmake-host)
# What the host prints: its checks, then the record it wrote and read back.
set(expected "BBBCCC90B02A000M valido, 2451545\nscritto 0, letto 0: C00001 Rossi Mario dal 01/01/2000\n")
file(MAKE_DIRECTORY ${WORK_DIR}/cmake-data ${WORK_DIR}/pc-data)
run(${WORK_DIR}/cmake-host/host ${WORK_DIR}/cmake-data)
if(NOT last_output STREQUAL expected)
  message(FATAL_ERROR "unexpected host output: ${last_output}")
endif()
if(NOT EXISTS ${WORK_DIR}/cmake-data/clienti.dat)
  message(FATAL_ERROR "the host wrote no table in ${WORK_DIR}/cmake-data")
endif()

# 2. pkg-config vktdlg
find_program(PKG_CONFIG pkg-config REQUIRED)
set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig:${prefix}/lib/x86_64-linux-gnu/pkgconfig)
run(${PKG_CONFIG} --cflags --libs vktdlg)
string(STRIP "${last_output}" flags)
separate_arguments(flags UNIX_COMMAND "${flags}")
file(GLOB libdirs ${prefix}/lib ${prefix}/lib/*)
run(c++ ${HOST_DIR}/host.cc -o ${WORK_DIR}/pc-host ${flags})
set(ENV{LD_LIBRARY_PATH} ${prefix}/lib:${prefix}/lib/x86_64-linux-gnu)
run(${WORK_DIR}/pc-host ${WORK_DIR}/pc-data)
if(NOT last_output STREQUAL expected)
  message(FATAL_ERROR "unexpected pkg-config host output: ${last_output}")
endif()
