# Fails when a test's CTest name carries the raw bytes of its parameter
# ("... 8-byte object <01-00 ...>"): such names change between builds, so a
# filter or a failure report cannot name the test. Run as
# cmake -DCTEST=<ctest> -DBUILD=<build folder> -P CheckTestNames.cmake.
execute_process(COMMAND ${CTEST} -N WORKING_DIRECTORY ${BUILD}
                OUTPUT_VARIABLE listing ERROR_VARIABLE errors RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "ctest -N failed (${status}): ${errors}")
endif()
if(NOT listing MATCHES "Total Tests: [1-9]")
  message(FATAL_ERROR "ctest -N listed no tests:\n${listing}")
endif()
string(REGEX MATCHALL "[^\n]*byte object[^\n]*" raw "${listing}")
if(raw)
  list(JOIN raw "\n" lines)
  message(FATAL_ERROR "test names made of raw bytes:\n${lines}")
endif()
