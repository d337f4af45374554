# Writes the version resource script of the Windows DLL. The driver's own
# texts (device name, type and address part names, description) come from
# the one place that defines them, the driver's compiled-in module record
# (SOURCE), so that the DLL's properties and the record never differ. The
# texts are UTF-16 escapes: windres reads them whatever its own code page.
#   SOURCE, VERSION (a.b.c.d), INTERNAL_NAME, FILE_NAME, ICONV, OUTPUT
file(READ "${SOURCE}" source)
string(REGEX MATCHALL "info\\[TfileInfo::k[A-Za-z]+\\] = TK571_GBK\\(\"[^\"]*\"\\)" texts "${source}")
if(NOT texts)
  message(FATAL_ERROR "no driver texts found in ${SOURCE}")
endif()

function(utf16_escapes text out)
  set(scratch "${OUTPUT}.text")
  file(WRITE "${scratch}" "${text}")
  execute_process(COMMAND "${ICONV}" -f UTF-8 -t UTF-16BE "${scratch}"
    OUTPUT_FILE "${scratch}.utf16" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "iconv failed on \"${text}\"")
  endif()
  file(READ "${scratch}.utf16" hex HEX)
  file(REMOVE "${scratch}" "${scratch}.utf16")
  string(REGEX REPLACE "([0-9a-f][0-9a-f][0-9a-f][0-9a-f])" "\\\\x\\1" escaped "${hex}")
  set(${out} "${escaped}" PARENT_SCOPE)
endfunction()

set(values "")
foreach(entry IN LISTS texts)
  string(REGEX MATCH "TfileInfo::k([A-Za-z]+)\\] = TK571_GBK\\(\"([^\"]*)\"" unused "${entry}")
  set(key "${CMAKE_MATCH_1}")
  utf16_escapes("${CMAKE_MATCH_2}" escaped)
  string(APPEND values "      VALUE \"${key}\", L\"${escaped}\"\n")
endforeach()
string(REPLACE "." "," version_commas "${VERSION}")

file(WRITE "${OUTPUT}" "// Generated from ${SOURCE}
1 VERSIONINFO
FILEVERSION ${version_commas}
PRODUCTVERSION ${version_commas}
FILEFLAGSMASK 0x3f
FILEFLAGS 0x0
FILEOS 0x40004
FILETYPE 0x2
FILESUBTYPE 0x0
BEGIN
  BLOCK \"StringFileInfo\"
  BEGIN
    BLOCK \"080403A8\"
    BEGIN
${values}      VALUE \"FileVersion\", \"${VERSION}\"
      VALUE \"ProductVersion\", \"${VERSION}\"
      VALUE \"InternalName\", \"${INTERNAL_NAME}\"
      VALUE \"OriginalFilename\", \"${FILE_NAME}\"
    END
  END
  BLOCK \"VarFileInfo\"
  BEGIN
    VALUE \"Translation\", 0x0804, 936
  END
END
")
