# Run by cpack after it has made the packages (CPACK_POST_BUILD_SCRIPTS): their Installed-Size from
# the files they hold (installed-size.sh).
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(package MATCHES "\\.deb$")
    execute_process(COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/installed-size.sh ${package} RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "Could not set the Installed-Size of ${package}")
    endif()
  endif()
endforeach()
