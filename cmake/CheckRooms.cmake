# The rule of the rooms, checked with the include flags each room is really
# compiled with (the build's compile_commands.json): a room sees every header
# of itself and of the rooms below it, and no header of any other room.
# Every quoted include in src/ names its room, so that no path relative to
# the including file gets around the include roots.
#
#   cmake -DCXX=<compiler> -DSOURCE_DIR=<project> -DBUILD_DIR=<build>
#         -DWORK_DIR=<dir> -DHAVE_QT=<ON|OFF> -P CheckRooms.cmake
cmake_minimum_required(VERSION 3.25)

# Rooms as the include paths name them; ui/qt holds the widgets.
set(rooms platform config comm engine protocol ui ui/qt driver)
set(sees_tk571_platform platform)
set(sees_tk571_config platform config)
set(sees_tk571_comm platform config comm)
set(sees_tk571_engine platform config engine)
set(sees_tk571_protocol platform config comm engine protocol)
set(sees_tk571_ui_logic platform config comm engine protocol ui)
set(sees_tk571_ui_widgets platform config comm engine protocol ui ui/qt)
set(sees_tk571_driver platform config comm engine protocol ui ui/qt driver)
set(sees_targets tk571_platform tk571_config tk571_comm tk571_engine tk571_protocol
    tk571_ui_logic tk571_driver)
if(HAVE_QT)
  list(APPEND sees_targets tk571_ui_widgets)
endif()

set(failures "")

file(GLOB_RECURSE sources ${SOURCE_DIR}/src/*.h ${SOURCE_DIR}/src/*.cpp)
foreach(source IN LISTS sources)
  file(STRINGS ${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line IN LISTS includes)
    if(NOT line MATCHES "\"(platform|config|comm|engine|protocol|ui|driver|tk571)/[^.][^\"]*\"")
      file(RELATIVE_PATH name ${SOURCE_DIR} ${source})
      list(APPEND failures "${name}: ${line} does not name its room")
    endif()
  endforeach()
endforeach()

# One compile command per room target: its include flags.
file(READ ${BUILD_DIR}/compile_commands.json commands)
string(JSON count LENGTH "${commands}")
math(EXPR last "${count} - 1")
set(targets "")
foreach(i RANGE ${last})
  string(JSON command GET "${commands}" ${i} command)
  if(NOT command MATCHES "CMakeFiles/(tk571_[a-z_]+)\\.dir/" OR CMAKE_MATCH_1 IN_LIST targets)
    continue()
  endif()
  set(target ${CMAKE_MATCH_1})
  list(APPEND targets ${target})
  string(REGEX MATCHALL " -(I|isystem )[^ ]+" flags_${target} "${command}")
  string(REPLACE " " "" flags_${target} "${flags_${target}}")
  string(REPLACE "-isystem" "-isystem;" flags_${target} "${flags_${target}}")
endforeach()

file(MAKE_DIRECTORY ${WORK_DIR})
foreach(target IN LISTS sees_targets)
  if(NOT target IN_LIST targets)
    list(APPEND failures "${target}: not built")
    continue()
  endif()
  set(probe "")
  foreach(room IN LISTS rooms)
    if(room IN_LIST sees_${target})
      set(test "!__has_include")
      set(fault "misses")
    else()
      set(test "__has_include")
      set(fault "sees")
    endif()
    file(GLOB headers RELATIVE ${SOURCE_DIR}/src ${SOURCE_DIR}/src/${room}/*.h)
    foreach(header IN LISTS headers)
      string(APPEND probe "#if ${test}(\"${header}\")\n#error ${target} ${fault} ${header}\n#endif\n")
    endforeach()
  endforeach()
  set(probe_file ${WORK_DIR}/${target}.cpp)
  file(WRITE ${probe_file} "${probe}")
  execute_process(COMMAND ${CXX} -std=c++20 -fsyntax-only ${flags_${target}} ${probe_file}
    RESULT_VARIABLE result ERROR_VARIABLE errors OUTPUT_QUIET)
  if(NOT result EQUAL 0)
    string(REGEX MATCHALL "error: #error [^\n]*" broken "${errors}")
    list(TRANSFORM broken REPLACE "^error: #error " "")
    if(NOT broken)
      set(broken "${target}: ${errors}")
    endif()
    list(APPEND failures ${broken})
  endif()
endforeach()

if(failures)
  list(JOIN failures "\n" text)
  message(FATAL_ERROR "${text}")
endif()
