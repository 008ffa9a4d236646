# 64-bit file offsets, inode numbers and times on 32-bit targets too: without them readdir() and
# fstat() fail with EOVERFLOW on a file system with 64-bit inode numbers, and time_t ends in 2038.
# On 64-bit targets both are what the C library does anyway.
#
# Both change the layout of structures (struct stat, struct dirent, struct timeval, ...), so no
# such structure, and no function that takes one, may cross into a library built without them:
# Debian 12's i386 gSOAP and OpenJDK are. The checks below prove that for the libraries the
# programs link, at configure time, and fail the configuration otherwise.
set(VEL_WIDTH_DEFINITIONS _FILE_OFFSET_BITS=64 _TIME_BITS=64)
add_compile_definitions(${VEL_WIDTH_DEFINITIONS})

# Types whose size follows _FILE_OFFSET_BITS or _TIME_BITS.
set(vel_width_types "off_t|ino_t|blkcnt_t|fsblkcnt_t|fsfilcnt_t|rlim_t|fpos_t|time_t|suseconds_t|struct (stat|dirent|timeval|timespec|itimerval|rlimit|statfs|statvfs|utimbuf)")

# The JNI headers use none of them: nothing the launcher hands to libjvm.so changes.
function(vel_check_jni_widths)
  foreach(dir IN LISTS ARGN)
    foreach(header jni.h jni_md.h)
      if(EXISTS ${dir}/${header})
        file(STRINGS ${dir}/${header} uses REGEX "(^|[^A-Za-z0-9_])(${vel_width_types})([^A-Za-z0-9_]|$)")
        if(uses)
          message(FATAL_ERROR "${dir}/${header} uses a type whose size _FILE_OFFSET_BITS or _TIME_BITS "
                              "changes: ${uses}")
        endif()
      endif()
    endforeach()
  endforeach()
endfunction()

# gSOAP: the context, struct soap, is the one structure that the generated code and the library
# share by layout. The library's own size of it (what soap_new() allocates) must equal the size the
# project compiles; a member of a changed type could not keep the size on a 32-bit target. The
# library's functions that take a time_t (the xsd:dateTime converters and the cookie expiry) are
# listed in VEL_GSOAP_TIME_FUNCTIONS, which the programs must not call (vel_check_no_time_imports).
function(vel_check_gsoap_layout gsoap_target)
  # The library calls serialisers that soapcpp2 writes for every program (faults, headers,
  # soap_getelement, ...), and a library linked with BIND_NOW (gSOAP 2.8.135) needs them when it is
  # loaded: the probe links those that soapcpp2 writes for an empty service definition.
  find_program(SOAPCPP2 soapcpp2 REQUIRED)
  set(generated ${CMAKE_BINARY_DIR}/widths-probe/generated)
  file(MAKE_DIRECTORY ${generated})
  file(WRITE ${generated}/Empty.h "")
  execute_process(COMMAND ${SOAPCPP2} -1 -C -L -w -x -d ${generated} ${generated}/Empty.h
                  RESULT_VARIABLE generate_status OUTPUT_VARIABLE generate_output ERROR_VARIABLE generate_output)
  if(NOT generate_status EQUAL 0)
    message(FATAL_ERROR "soapcpp2 failed on an empty service definition:\n${generate_output}")
  endif()
  set(probe ${PROJECT_SOURCE_DIR}/cmake/probes/SoapContextSize.cpp)
  list(TRANSFORM VEL_WIDTH_DEFINITIONS PREPEND -D OUTPUT_VARIABLE definitions)
  try_run(run_status compile_ok ${CMAKE_BINARY_DIR}/widths-probe SOURCES ${probe} ${generated}/soapC.cpp
          CMAKE_FLAGS -DINCLUDE_DIRECTORIES=${generated}
          COMPILE_DEFINITIONS ${definitions}
          LINK_LIBRARIES ${gsoap_target}
          COMPILE_OUTPUT_VARIABLE compile_output
          RUN_OUTPUT_VARIABLE sizes)
  if(NOT compile_ok OR NOT run_status EQUAL 0)
    message(FATAL_ERROR "The gSOAP context size probe failed:\n${compile_output}\n${sizes}")
  endif()
  separate_arguments(sizes)
  list(GET sizes 0 library_size)
  list(GET sizes 1 project_size)
  if(NOT library_size EQUAL project_size)
    message(FATAL_ERROR "gSOAP allocates ${library_size} bytes for struct soap, the project compiles it "
                        "with ${project_size} (${VEL_WIDTH_DEFINITIONS}): the layouts differ")
  endif()
  message(STATUS "struct soap: ${project_size} bytes, in the library and with ${VEL_WIDTH_DEFINITIONS}")

  find_file(stdsoap2_h stdsoap2.h PATHS ${GSOAPSSL_INCLUDE_DIRS} /usr/include NO_CACHE REQUIRED)
  file(STRINGS ${stdsoap2_h} declarations REGEX "^SOAP_FMAC1 .*time_t")
  set(functions)
  foreach(declaration IN LISTS declarations)
    string(REGEX MATCH "SOAP_FMAC2 ([A-Za-z_0-9]+)\\(" matched "${declaration}")
    list(APPEND functions ${CMAKE_MATCH_1})
  endforeach()
  set(VEL_GSOAP_TIME_FUNCTIONS ${functions} CACHE INTERNAL "gSOAP functions that take a time_t")
endfunction()

# Fails the build of TARGET when it imports a gSOAP function that takes a time_t: the library's
# time_t is 32-bit on i386, the project's 64-bit.
function(vel_check_no_time_imports target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${target}> -DNM=${CMAKE_NM}
            "-DFUNCTIONS=${VEL_GSOAP_TIME_FUNCTIONS}" -P ${PROJECT_SOURCE_DIR}/cmake/CheckTimeImports.cmake
    VERBATIM)
endfunction()
