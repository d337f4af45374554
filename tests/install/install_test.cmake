# Installs the build into a fresh prefix, then builds the tiny host against
# it twice, with find_package(tk571) and with pkg-config, and runs both; and
# runs the installed tk571-host, which finds the library beside it by its
# runtime name.
#
# The components install apart: runtime (the library alone), ui (the dialog
# module), development (header, CMake package, pkg-config file) and tools;
# the library and the tools run without the ui component.
#
# -DBUILD_DIR -DCONSUMER_DIR -DWORK_DIR -DC_COMPILER -DHAVE_QT [-DEXTRA_C_FLAGS]
cmake_policy(SET CMP0057 NEW)
set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${what} failed (${result}):\n${out}\n${err}")
  endif()
  set(output "${out}" PARENT_SCOPE)
endfunction()

run("install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

# The layout a host author relies on.
file(GLOB config ${prefix}/lib*/cmake/tk571/tk571Config.cmake)
file(GLOB pc ${prefix}/lib*/pkgconfig/tk571.pc)
file(GLOB library ${prefix}/lib*/libtk571_485.so)
foreach(path include/tk571/driver.h bin/tk571-host bin/tk571-sim)
  if(NOT EXISTS ${prefix}/${path})
    message(FATAL_ERROR "${path} is not installed")
  endif()
endforeach()
if(NOT config OR NOT pc OR NOT library)
  message(FATAL_ERROR "library, CMake package or pkg-config file missing under ${prefix}")
endif()
get_filename_component(pc_dir ${pc} DIRECTORY)
get_filename_component(lib_dir ${library} DIRECTORY)

# find_package(tk571)
run("configure with find_package" ${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/cmake_host
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_C_COMPILER=${C_COMPILER}
    "-DCMAKE_C_FLAGS=${EXTRA_C_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${EXTRA_C_FLAGS}")
run("build with find_package" ${CMAKE_COMMAND} --build ${WORK_DIR}/cmake_host)
run("tiny host (find_package)" ${WORK_DIR}/cmake_host/tiny_host)
if(NOT output MATCHES "linked GetPDBLen = 26508\nloaded GetPDBLen = 26508")
  message(FATAL_ERROR "tiny host (find_package) said:\n${output}")
endif()

# pkg-config
find_program(PKG_CONFIG pkg-config REQUIRED)
set(pc_env ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${pc_dir})
run("pkg-config" ${pc_env} ${PKG_CONFIG} --cflags --libs tk571)
separate_arguments(flags UNIX_COMMAND "${output}")
run("pkg-config driver" ${pc_env} ${PKG_CONFIG} --variable=driver tk571)
string(STRIP "${output}" driver_file)
separate_arguments(extra UNIX_COMMAND "${EXTRA_C_FLAGS}")
run("build with pkg-config" ${C_COMPILER} ${extra} ${CONSUMER_DIR}/tiny_host.c ${flags} -ldl
    -o ${WORK_DIR}/pc_tiny_host)
run("tiny host (pkg-config)" ${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${lib_dir}
    ${WORK_DIR}/pc_tiny_host ${driver_file})
if(NOT output MATCHES "linked GetPDBLen = 26508\nloaded GetPDBLen = 26508")
  message(FATAL_ERROR "tiny host (pkg-config) said:\n${output}")
endif()

# The installed reference host loads the installed library on its own, by
# its runtime name: without the development link too, and never the build
# tree's library when the installed one is gone.
foreach(dev_link IN ITEMS kept removed)
  if(dev_link STREQUAL "removed")
    file(REMOVE ${lib_dir}/libtk571_485.so)
  endif()
  run("installed tk571-host (development link ${dev_link})" ${CMAKE_COMMAND} -E env
      --unset=TK571_LIBRARY ${prefix}/bin/tk571-host kinds)
  if(NOT output MATCHES "^driver library: ${lib_dir}/libtk571_485.so.1\n" OR NOT output MATCHES "START_UP")
    message(FATAL_ERROR "installed tk571-host (development link ${dev_link}) said:\n${output}")
  endif()
endforeach()
file(GLOB runtime ${lib_dir}/libtk571_485.so.*)
file(REMOVE ${runtime})
execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=TK571_LIBRARY
                ${prefix}/bin/tk571-host kinds RESULT_VARIABLE result OUTPUT_VARIABLE out
                ERROR_VARIABLE err)
# (A library installed for the whole system may answer the runtime name.)
if(out MATCHES "${BUILD_DIR}" OR (NOT result EQUAL 0 AND NOT err MATCHES "cannot load libtk571_485.so.1"))
  message(FATAL_ERROR "tk571-host without an installed library (${result}):\n${out}\n${err}")
endif()

# Component by component: what each puts in place, and nothing else.
set(parts ${WORK_DIR}/parts)
set(runtime_files "lib/libtk571_485.so.1;lib/libtk571_485.so.1.0.0")
set(ui_files "")
if(HAVE_QT)
  set(ui_files "lib/libtk571_485_ui.so")
endif()
set(development_files "include/tk571/driver.h;lib/libtk571_485.so;lib/pkgconfig/tk571.pc;lib/cmake/tk571/tk571Config.cmake")
set(tools_files "bin/tk571-host;bin/tk571-sim;share/man/man1/tk571-host.1")
foreach(component runtime ui development tools)
  run("install ${component}" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${parts}/${component}
      --component ${component})
  file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE ${parts}/${component}
       ${parts}/${component}/*)
  string(REGEX REPLACE "(^|;)lib[^/;]*/" "\\1lib/" installed "${installed}")
  foreach(path IN LISTS ${component}_files)
    if(NOT path IN_LIST installed)
      message(FATAL_ERROR "component ${component} does not install ${path}: ${installed}")
    endif()
  endforeach()
  foreach(path IN LISTS installed)
    if(path MATCHES "libtk571_485" AND NOT path IN_LIST ${component}_files)
      message(FATAL_ERROR "component ${component} installs ${path} too")
    endif()
  endforeach()
endforeach()

# The runtime and the tools without the dialog module: the host still runs.
set(headless ${WORK_DIR}/headless)
foreach(component runtime tools)
  run("install ${component}" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${headless}
      --component ${component})
endforeach()
file(GLOB headless_ui ${headless}/lib*/libtk571_485_ui.so)
if(headless_ui)
  message(FATAL_ERROR "the runtime or tools component installs the dialog module")
endif()
run("tk571-host without the dialog module" ${CMAKE_COMMAND} -E env --unset=TK571_LIBRARY
    ${headless}/bin/tk571-host kinds)
if(NOT output MATCHES "libtk571_485.so.1
" OR NOT output MATCHES "START_UP")
  message(FATAL_ERROR "tk571-host without the dialog module said:
${output}")
endif()

# The manual pages go with the tools.
foreach(page tk571-host.1 tk571-sim.1)
  if(NOT EXISTS ${prefix}/share/man/man1/${page})
    message(FATAL_ERROR "manual page ${page} is not installed")
  endif()
endforeach()
file(REMOVE_RECURSE ${WORK_DIR})
