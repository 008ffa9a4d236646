# The launcher's command tables, from their one source launcher/VelCommands.txt:
#   VEL_CLI_COMMANDS, VEL_AUX_COMMANDS  the names that get a link (aux: the aux, aux2 and special
#                                       tables), in table order
#   VEL_COMMAND_CLASSES                 every Java class the tables name, once
#   VEL_<TABLE>_ROWS                    the C++ initialiser rows of each table (cli, aux, aux2,
#                                       special), for launcher/VelCommandTable.h.in
set(VEL_COMMAND_TABLE ${PROJECT_SOURCE_DIR}/launcher/VelCommands.txt)
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND
             PROPERTY CMAKE_CONFIGURE_DEPENDS ${VEL_COMMAND_TABLE})

set(VEL_CLI_COMMANDS)
set(VEL_AUX_COMMANDS)
set(VEL_COMMAND_CLASSES)
foreach(table CLI AUX AUX2 SPECIAL)
  set(VEL_${table}_ROWS)
endforeach()

file(STRINGS ${VEL_COMMAND_TABLE} vel_command_rows REGEX "^[^#]")
foreach(row IN LISTS vel_command_rows)
  if(NOT row MATCHES "^(cli|aux|aux2|special) ([A-Za-z0-9]+) ([A-Za-z0-9_/]+)(.*)$")
    message(FATAL_ERROR "${VEL_COMMAND_TABLE}: not a command row: ${row}")
  endif()
  string(TOUPPER ${CMAKE_MATCH_1} table)
  set(command ${CMAKE_MATCH_2})
  set(class ${CMAKE_MATCH_3})
  string(APPEND VEL_${table}_ROWS "    {\"${command}\", \"${class}${CMAKE_MATCH_4}\"},\n")
  list(APPEND VEL_COMMAND_CLASSES ${class})
  string(TOLOWER ${command} key)
  if(key STREQUAL command)
    if(table STREQUAL "CLI")
      list(APPEND VEL_CLI_COMMANDS ${command})
    else()
      list(APPEND VEL_AUX_COMMANDS ${command})
    endif()
  endif()
endforeach()
list(REMOVE_DUPLICATES VEL_COMMAND_CLASSES)
