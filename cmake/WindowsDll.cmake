# The Windows form of the driver library: TK571_485.dll with the fourteen
# entry points exported undecorated at their ordinals (from the one .def
# list), a version resource whose texts come from the driver's module record
# (texts_source), and an import library for host authors.
function(tk571_windows_dll target entry_objects def_in texts_source)
  set(def_out ${CMAKE_CURRENT_BINARY_DIR}/TK571_485_win.def)
  add_custom_command(OUTPUT ${def_out}
    COMMAND ${CMAKE_COMMAND} -DDEF_IN=${def_in} -DNM=${CMAKE_NM}
            "-DOBJECTS=$<JOIN:$<TARGET_OBJECTS:${entry_objects}>,|>" -DLIBRARY_NAME=TK571_485.dll
            -DDEF_OUT=${def_out} -P ${PROJECT_SOURCE_DIR}/cmake/WindowsDef.cmake
    DEPENDS ${def_in} $<TARGET_OBJECTS:${entry_objects}> ${PROJECT_SOURCE_DIR}/cmake/WindowsDef.cmake
    COMMENT "Module definition of TK571_485.dll"
    VERBATIM)

  set(rc_out ${CMAKE_CURRENT_BINARY_DIR}/tk571_485_version.rc)
  set(version "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.${PROJECT_VERSION_TWEAK}")
  find_program(TK571_ICONV iconv REQUIRED)
  add_custom_command(OUTPUT ${rc_out}
    COMMAND ${CMAKE_COMMAND} -DSOURCE=${texts_source} -DVERSION=${version}
            -DINTERNAL_NAME=TK571_485 -DFILE_NAME=TK571_485.dll -DICONV=${TK571_ICONV}
            -DOUTPUT=${rc_out} -P ${PROJECT_SOURCE_DIR}/cmake/VersionResource.cmake
    DEPENDS ${texts_source} ${PROJECT_SOURCE_DIR}/cmake/VersionResource.cmake
    COMMENT "Version resource of TK571_485.dll"
    VERBATIM)

  target_sources(${target} PRIVATE ${rc_out})
  target_link_options(${target} PRIVATE -Wl,--kill-at ${def_out})
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME TK571_485 PREFIX "" IMPORT_PREFIX "lib" LINK_DEPENDS ${def_out})
  # The linker's import library would carry the bare names; dlltool's keeps
  # the stdcall decoration that a compiler emits for the header's
  # declarations and imports the bare name.
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_DLLTOOL} --kill-at -d ${def_out} -D TK571_485.dll
            -l $<TARGET_LINKER_FILE:${target}>
    VERBATIM)
  # LINK_DEPENDS alone does not order the generation before the link.
  add_custom_target(${target}_def DEPENDS ${def_out})
  add_dependencies(${target}_def ${entry_objects})
  add_dependencies(${target} ${target}_def)
endfunction()
