# VEL_SANITIZE: a test build in which every program and test program runs under AddressSanitizer
# and UndefinedBehaviorSanitizer (any undefined behaviour ends the process), with LeakSanitizer on
# except in the launcher's processes: the JVM inside them keeps memory of its own to the end.
option(VEL_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer (for the tests)" OFF)
if(NOT VEL_SANITIZE)
  return()
endif()

# float-cast-overflow is undefined behaviour too, but not part of "undefined"; the library's own
# assertions (_GLIBCXX_ASSERTIONS) check indexes and the preconditions of the containers.
set(vel_sanitize_flags -fsanitize=address,undefined,float-cast-overflow -fno-sanitize-recover=all
                       -fno-omit-frame-pointer)
add_compile_options(${vel_sanitize_flags})
add_compile_definitions(_GLIBCXX_ASSERTIONS)
# The sanitizer link flags switch Debian's default --as-needed off for the libraries that follow;
# switch it back on, or programs that use no SOAP call would need all of the gSOAP runtime's
# callbacks from the generated serialisers.
add_link_options(-fsanitize=address,undefined,float-cast-overflow LINKER:--as-needed)

# The run-time options are compiled into each executable (see SanitizerDefaults.cpp): the black-box
# tests start the programs with environments of their own, and a set-user-ID start cannot read its
# environment from /proc. ASAN_OPTIONS, UBSAN_OPTIONS and LSAN_OPTIONS still take precedence.
# Reports are written as REPORT_DIR/report.PID; the directory is open to all, since set-user-ID
# copies in the tests run as other users.
set(VEL_SANITIZE_REPORT_DIR ${CMAKE_BINARY_DIR}/sanitizer-reports)
file(MAKE_DIRECTORY ${VEL_SANITIZE_REPORT_DIR})
file(CHMOD ${VEL_SANITIZE_REPORT_DIR} DIRECTORY_PERMISSIONS
     OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_WRITE GROUP_EXECUTE
     WORLD_READ WORLD_WRITE WORLD_EXECUTE)
add_library(vel_sanitizer_defaults OBJECT ${CMAKE_CURRENT_LIST_DIR}/sanitize/SanitizerDefaults.cpp)
add_library(vel_sanitizer_defaults_jvm OBJECT ${CMAKE_CURRENT_LIST_DIR}/sanitize/SanitizerDefaults.cpp)
# Reports from the gSOAP runtime's known self-copy of an id are suppressed (asan.supp).
set(VEL_SANITIZE_SUPPRESSIONS ${CMAKE_CURRENT_LIST_DIR}/sanitize/asan.supp)
target_compile_definitions(vel_sanitizer_defaults PRIVATE
  VEL_SANITIZE_LOG_PATH="${VEL_SANITIZE_REPORT_DIR}/report"
  VEL_SANITIZE_SUPPRESSIONS="${VEL_SANITIZE_SUPPRESSIONS}")
target_compile_definitions(vel_sanitizer_defaults_jvm PRIVATE
  VEL_SANITIZE_LOG_PATH="${VEL_SANITIZE_REPORT_DIR}/report" VEL_SANITIZE_HOSTS_JVM=1
  VEL_SANITIZE_SUPPRESSIONS="${VEL_SANITIZE_SUPPRESSIONS}")

function(vel_sanitize_collect_targets dir out)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub IN LISTS subdirs)
    vel_sanitize_collect_targets(${sub} sub_targets)
    list(APPEND targets ${sub_targets})
  endforeach()
  set(${out} ${targets} PARENT_SCOPE)
endfunction()

# Every executable gets the defaults; those that link the launcher core (and so load a JVM) get
# the JVM's. Fuzz targets bring libFuzzer's own settings and are left alone.
function(vel_sanitize_attach_defaults)
  vel_sanitize_collect_targets(${PROJECT_SOURCE_DIR} targets)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(NOT type STREQUAL "EXECUTABLE")
      continue()
    endif()
    get_target_property(link_options ${target} LINK_OPTIONS)
    if(link_options MATCHES "fsanitize=[^;]*fuzzer")
      continue()
    endif()
    get_target_property(libs ${target} LINK_LIBRARIES)
    if("vel_launcher_core" IN_LIST libs)
      target_link_libraries(${target} PRIVATE vel_sanitizer_defaults_jvm)
    else()
      target_link_libraries(${target} PRIVATE vel_sanitizer_defaults)
    endif()
  endforeach()
endfunction()
cmake_language(DEFER CALL vel_sanitize_attach_defaults)
