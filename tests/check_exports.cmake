# Fails unless the dynamic symbol table of LIB defines exactly the 24 Tavelo_fmi* entries.
execute_process(COMMAND nm -D --defined-only ${LIB} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIB}")
endif()
string(REPLACE "\n" ";" lines "${out}")
set(names "")
foreach(line IN LISTS lines)
  if(line MATCHES "^[0-9a-fA-F]+ +[A-Za-z] +(.+)$")
    list(APPEND names "${CMAKE_MATCH_1}")
  endif()
endforeach()
list(SORT names)
set(expected
  Tavelo_fmiCompletedIntegratorStep Tavelo_fmiEventUpdate Tavelo_fmiFreeModelInstance
  Tavelo_fmiGetBoolean Tavelo_fmiGetContinuousStates Tavelo_fmiGetDerivatives
  Tavelo_fmiGetEventIndicators Tavelo_fmiGetInteger Tavelo_fmiGetModelTypesPlatform
  Tavelo_fmiGetNominalContinuousStates Tavelo_fmiGetReal Tavelo_fmiGetStateValueReferences
  Tavelo_fmiGetString Tavelo_fmiGetVersion Tavelo_fmiInitialize Tavelo_fmiInstantiateModel
  Tavelo_fmiSetBoolean Tavelo_fmiSetContinuousStates Tavelo_fmiSetDebugLogging
  Tavelo_fmiSetInteger Tavelo_fmiSetReal Tavelo_fmiSetString Tavelo_fmiSetTime Tavelo_fmiTerminate)
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "exports differ:\n  got: ${names}\n  expected: ${expected}")
endif()
# No LAPACK, BLAS or xerbla_ name may appear at all, defined or undefined: the library carries
# its own copies and a host's LAPACK must not replace them.
execute_process(COMMAND nm -D ${LIB} OUTPUT_VARIABLE all RESULT_VARIABLE rc)
string(REGEX MATCHALL "[ \n][a-z][a-z0-9]*_\n" fortran "${all}")
if(fortran)
  message(FATAL_ERROR "Fortran symbols in the dynamic table: ${fortran}")
endif()
message(STATUS "exports ok: ${names}")
