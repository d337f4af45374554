# Fails unless the DLL exports exactly the names of the .def list at their
# ordinals, undecorated, and imports nothing but Windows' own DLLs (the
# runtime libraries must be linked in).
#   DLL, OBJDUMP, DEF
execute_process(COMMAND "${OBJDUMP}" -p "${DLL}" OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} failed on ${DLL}")
endif()

# Expected: "ordinal name" for each line of the list.
file(STRINGS "${DEF}" lines REGEX "^[ \t]+[A-Za-z_][A-Za-z0-9_]*[ \t]+@[0-9]+")
set(expected "")
foreach(line IN LISTS lines)
  string(REGEX MATCH "^[ \t]+([A-Za-z_][A-Za-z0-9_]*)[ \t]+@([0-9]+)" unused "${line}")
  list(APPEND expected "${CMAKE_MATCH_2} ${CMAKE_MATCH_1}")
endforeach()
list(SORT expected)

# The name table lists "[index] name" with ordinal = index + ordinal base.
if(NOT dump MATCHES "Ordinal Base[ \t]+([0-9]+)")
  message(FATAL_ERROR "no export table in ${DLL}")
endif()
set(base ${CMAKE_MATCH_1})
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n(([ \t]+\\[[ 0-9]+\\] [^\n]+\n)+)" unused "${dump}")
string(REGEX MATCHALL "\\[[ 0-9]+\\] [^\n]+" entries "${CMAKE_MATCH_1}")
set(exported "")
foreach(entry IN LISTS entries)
  string(REGEX MATCH "\\[ *([0-9]+)\\] (.+)" unused "${entry}")
  math(EXPR ordinal "${CMAKE_MATCH_1} + ${base}")
  list(APPEND exported "${ordinal} ${CMAKE_MATCH_2}")
endforeach()
list(SORT exported)
if(NOT exported STREQUAL expected)
  message(FATAL_ERROR "exports of ${DLL}:\n  ${exported}\nexpected:\n  ${expected}")
endif()

# Imports: the system's DLLs only.
set(system_dlls ADVAPI32.dll KERNEL32.dll msvcrt.dll USER32.dll GDI32.dll VERSION.dll
    COMCTL32.dll comdlg32.dll SHELL32.dll)
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
foreach(import IN LISTS imports)
  string(REPLACE "DLL Name: " "" name "${import}")
  string(TOUPPER "${name}" upper)
  set(known FALSE)
  foreach(system IN LISTS system_dlls)
    string(TOUPPER "${system}" system_upper)
    if(upper STREQUAL system_upper)
      set(known TRUE)
    endif()
  endforeach()
  if(NOT known)
    message(FATAL_ERROR "${DLL} imports ${name}, which is not a Windows DLL")
  endif()
endforeach()
list(LENGTH exported count)
message(STATUS "${count} exports at their ordinals; imports: ${imports}")
