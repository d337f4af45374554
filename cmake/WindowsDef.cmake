# Writes the module definition of the Windows DLL: the names and ordinals of
# the one export list (DEF_IN), each bound to its stdcall symbol (Name@bytes)
# as the compiled entry points (OBJECTS, read with NM) define it. Linked with
# --kill-at, the DLL exports the bare names at those ordinals and the import
# library resolves the decorated names a C or C++ host compiles against.
file(STRINGS "${DEF_IN}" lines REGEX "^[ \t]+[A-Za-z_][A-Za-z0-9_]*[ \t]+@[0-9]+")
# OBJECTS separates the object files with "|": a CMake list would reach this
# script as separate arguments, of which only the first names OBJECTS.
string(REPLACE "|" ";" objects "${OBJECTS}")
execute_process(COMMAND "${NM}" -g --defined-only ${objects}
  OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${OBJECTS}")
endif()
set(body "; Generated from ${DEF_IN}\nLIBRARY ${LIBRARY_NAME}\nEXPORTS\n")
foreach(line IN LISTS lines)
  string(REGEX MATCH "^[ \t]+([A-Za-z_][A-Za-z0-9_]*)[ \t]+@([0-9]+)" unused "${line}")
  set(name "${CMAKE_MATCH_1}")
  set(ordinal "${CMAKE_MATCH_2}")
  if(NOT symbols MATCHES " T _${name}@([0-9]+)\n")
    message(FATAL_ERROR "no stdcall definition of ${name} in ${OBJECTS}")
  endif()
  string(APPEND body "  ${name}@${CMAKE_MATCH_1} @${ordinal}\n")
endforeach()
file(WRITE "${DEF_OUT}" "${body}")
