# The JDK that builds the Java side and whose libjvm.so the launcher links: JAVA_HOME when it is
# set, else the default OpenJDK of this machine's Debian release (tools/releases.txt) for the
# architecture the compiler builds for (i386 in a 32-bit build, whatever the machine's own
# architecture).
if(NOT DEFINED VEL_JDK_HOME)
  if(NOT "$ENV{JAVA_HOME}" STREQUAL "")
    set(jdk_default "$ENV{JAVA_HOME}")
  else()
    set(jdk_arch "")
    if(CMAKE_LIBRARY_ARCHITECTURE)
      execute_process(COMMAND dpkg-architecture -t${CMAKE_LIBRARY_ARCHITECTURE} -qDEB_TARGET_ARCH
                      OUTPUT_VARIABLE jdk_arch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    endif()
    if(jdk_arch STREQUAL "")
      execute_process(COMMAND dpkg --print-architecture
                      OUTPUT_VARIABLE jdk_arch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    endif()
    cmake_host_system_information(RESULT release QUERY DISTRIB_VERSION_CODENAME)
    file(STRINGS ${PROJECT_SOURCE_DIR}/tools/releases.txt row REGEX "^${release}[ \t]")
    string(REGEX MATCH "^[^ \t]+[ \t]+[^ \t]+[ \t]+([0-9]+)" row "${row}")
    if(release STREQUAL "" OR row STREQUAL "")
      set(jdk_default "")
      if(VEL_BUILD_LAUNCHER)
        message(FATAL_ERROR "This Debian release (${release}) is not in tools/releases.txt: "
                            "set JAVA_HOME to the JDK to build with")
      endif()
    else()
      set(jdk_default "/usr/lib/jvm/java-${CMAKE_MATCH_1}-openjdk-${jdk_arch}")
    endif()
  endif()
  set(VEL_JDK_HOME "${jdk_default}" CACHE PATH "JDK that builds and runs the Java side")
endif()
if(VEL_BUILD_LAUNCHER AND NOT EXISTS "${VEL_JDK_HOME}/bin/javac")
  message(FATAL_ERROR "No JDK in ${VEL_JDK_HOME} (set JAVA_HOME or VEL_JDK_HOME)")
endif()
message(STATUS "JDK: ${VEL_JDK_HOME}")

# vel_jvm: the interface target of everything that links the JDK's libjvm.so, the server VM (the
# i386 JDK also has lib/client, which FindJNI would take first).
function(vel_add_jvm_target)
  if(TARGET vel_jvm)
    return()
  endif()
  set(JAVA_JVM_LIBRARY "${VEL_JDK_HOME}/lib/server/libjvm.so" CACHE FILEPATH "The JVM the launcher links")
  set(ENV{JAVA_HOME} "${VEL_JDK_HOME}")
  find_package(JNI REQUIRED COMPONENTS JVM)
  vel_check_jni_widths(${JNI_INCLUDE_DIRS})
  add_library(vel_jvm INTERFACE)
  target_include_directories(vel_jvm INTERFACE ${JNI_INCLUDE_DIRS})
  target_link_libraries(vel_jvm INTERFACE ${JAVA_JVM_LIBRARY})
  # Debian's i386 libjvm.so lists an undefined symbol that nothing references (_SafeFetch32_impl),
  # which GNU ld refuses in a library that a program links. Where, and only where, that stops a
  # plain link, the programs that link the JVM tolerate undefined symbols in shared libraries.
  include(CheckCXXSourceCompiles)
  set(CMAKE_REQUIRED_QUIET ON)
  set(CMAKE_REQUIRED_LIBRARIES ${JAVA_JVM_LIBRARY})
  # ld checks a library's own undefined symbols only in a program that uses the library.
  set(uses_jvm "#include <jni.h>\nint main() { return JNI_GetDefaultJavaVMInitArgs(nullptr); }")
  set(CMAKE_REQUIRED_INCLUDES ${JNI_INCLUDE_DIRS})
  check_cxx_source_compiles("${uses_jvm}" VEL_JVM_LINKS_PLAIN)
  if(NOT VEL_JVM_LINKS_PLAIN)
    set(CMAKE_REQUIRED_LINK_OPTIONS -Wl,--allow-shlib-undefined)
    check_cxx_source_compiles("${uses_jvm}" VEL_JVM_LINKS_ALLOWING_UNDEFINED)
    if(NOT VEL_JVM_LINKS_ALLOWING_UNDEFINED)
      message(FATAL_ERROR "Cannot link ${JAVA_JVM_LIBRARY}")
    endif()
    message(STATUS "${JAVA_JVM_LIBRARY} has undefined symbols: its programs link with --allow-shlib-undefined")
    target_link_options(vel_jvm INTERFACE -Wl,--allow-shlib-undefined)
  endif()
endfunction()
