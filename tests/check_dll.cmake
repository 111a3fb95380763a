# Fails unless the DLL LIB is a PE file of FORMAT (objdump's name: pei-i386 for PE32,
# pei-x86-64 for PE32+), imports from the Windows system DLLs KERNEL32.dll and msvcrt.dll only,
# and exports exactly the 24 Tavelo_fmi* entries, undecorated, in alphabetical order with the
# ordinals 1 to 24, and nothing by ordinal alone.
execute_process(COMMAND ${OBJDUMP} -p ${LIB} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${LIB}")
endif()
if(NOT out MATCHES "file format ${FORMAT}\n")
  message(FATAL_ERROR "${LIB} is not of format ${FORMAT}")
endif()
if(FORMAT STREQUAL "pei-i386" AND NOT out MATCHES "Magic[\t ]+010b[\t ]+\\(PE32\\)")
  message(FATAL_ERROR "${LIB} is no PE32 file")
endif()

string(REPLACE "\n" ";" lines "${out}")
set(imports "")
set(exports "")
set(in_names OFF)
set(addresses 0)
set(in_addresses OFF)
foreach(line IN LISTS lines)
  if(line MATCHES "DLL Name: (.+)$")
    string(TOLOWER "${CMAKE_MATCH_1}" dll)
    list(APPEND imports "${dll}")
  elseif(line MATCHES "^Export Address Table -- Ordinal Base")
    set(in_addresses ON)
  elseif(in_addresses AND line MATCHES "^[\t ]+\\[ *[0-9]+\\] \\+base")
    # Every exported address, named or not.
    math(EXPR addresses "${addresses} + 1")
  elseif(in_addresses)
    set(in_addresses OFF)
  elseif(line MATCHES "^Ordinal Base[\t ]+([0-9]+)")
    set(base ${CMAKE_MATCH_1})
  elseif(line MATCHES "^\\[Ordinal/Name Pointer\\] Table")
    set(in_names ON)
  elseif(in_names AND line MATCHES "^[\t ]+\\[ *([0-9]+)\\] (.+)$")
    # The ordinal table holds the ordinal less the base.
    math(EXPR ordinal "${CMAKE_MATCH_1} + ${base}")
    list(APPEND exports "${ordinal}:${CMAKE_MATCH_2}")
  elseif(in_names)
    set(in_names OFF)
  endif()
endforeach()

list(SORT imports)
if(NOT imports STREQUAL "kernel32.dll;msvcrt.dll")
  message(FATAL_ERROR "imports differ: ${imports} (expected KERNEL32.dll and msvcrt.dll only)")
endif()

set(expected "")
set(ordinal 0)
foreach(name IN ITEMS
    CompletedIntegratorStep EventUpdate FreeModelInstance GetBoolean GetContinuousStates
    GetDerivatives GetEventIndicators GetInteger GetModelTypesPlatform
    GetNominalContinuousStates GetReal GetStateValueReferences GetString GetVersion Initialize
    InstantiateModel SetBoolean SetContinuousStates SetDebugLogging SetInteger SetReal SetString
    SetTime Terminate)
  math(EXPR ordinal "${ordinal} + 1")
  list(APPEND expected "${ordinal}:Tavelo_fmi${name}")
endforeach()
if(NOT exports STREQUAL expected)
  message(FATAL_ERROR "exports differ:\n  got: ${exports}\n  expected: ${expected}")
endif()
# An export by ordinal only has no name: the address table holds the 24 named entries alone.
if(NOT addresses EQUAL 24)
  message(FATAL_ERROR "${LIB} exports ${addresses} addresses, expected the 24 named entries")
endif()

# LAPACK's own xerbla prints " ** On entry to ..." and stops the process; the DLL must carry the
# runtime's silent one instead.
file(STRINGS ${LIB} xerbla_text REGEX "On entry to")
if(xerbla_text)
  message(FATAL_ERROR "${LIB} carries LAPACK's printing xerbla: ${xerbla_text}")
endif()
message(STATUS "${LIB}: ${FORMAT}, imports ${imports}, exports ${exports}")
