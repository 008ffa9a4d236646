# Installation layout and Debian packages.
#
# Every install path is relative to a root-like prefix, "/" by default, so that
# `cmake --install BUILD` lays out the product tree itself and `--prefix DIR` (or DESTDIR)
# stages the same tree below DIR:
#
#   launcher component (package vel-launcher):
#     opt/vel/bin/vellauncher and one link per command of the launcher's four tables,
#     var/opt/vel/logs (trace and garbage-collector logs), usr/share/man/man8/vellauncher.8.gz
#   client component (package vel-clifclient):
#     opt/vel/clif/bin/clifclient and one link per CLI command, the sample
#     opt/vel/clif/bin/CLIClientConfig.cfg, usr/share/man/man1/clifclient.1.gz
#
# The client takes its configuration directory from its own path (the "bin" directory beside
# the directory it is started from), so its links get a bin directory of their own: on the CMS
# the launcher's links in /opt/vel/bin carry the same command names, and both packages must fit
# on one machine. /opt/vel/clif/bin is then also the client's configuration directory.

if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX "/" CACHE PATH "Install prefix; the product tree lies below it" FORCE)
endif()

set(VEL_LAUNCHER_BINDIR "opt/vel/bin" CACHE STRING "Launcher directory, relative to the install prefix")
set(VEL_CLIENT_BINDIR "opt/vel/clif/bin" CACHE STRING "Client directory, relative to the install prefix")
set(VEL_LOG_DIR "var/opt/vel/logs")
set(VEL_MAN_DIR "usr/share/man")
set(VEL_DOC_DIR "usr/share/doc")
option(VEL_INSTALL_SETUID "Install vellauncher set-user-ID root" OFF)

set(VEL_LAUNCHER_PACKAGE vel-launcher)
set(VEL_CLIENT_PACKAGE vel-clifclient)

# The launcher's command tables (cmake/Commands.cmake): the CLI commands are also the ones
# administrators run remotely, so the client is installed under the same names.

set(vel_pkg_src ${PROJECT_SOURCE_DIR}/cmake/deb)
set(vel_pkg_bin ${PROJECT_BINARY_DIR}/deb)
file(MAKE_DIRECTORY ${vel_pkg_bin}/man)

# Manual pages and the package change logs go out compressed, as Debian keeps them.
function(vel_gzip_file source output)
  add_custom_command(OUTPUT ${output}
    COMMAND gzip -9nc ${source} > ${output}
    DEPENDS ${source}
    VERBATIM)
endfunction()

function(vel_install_links component dir target)
  foreach(cmd IN LISTS ARGN)
    install(CODE "
      set(link \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${dir}/${cmd}\")
      message(STATUS \"Installing: \${link} -> ${target}\")
      file(CREATE_LINK ${target} \"\${link}\" SYMBOLIC)"
      COMPONENT ${component})
  endforeach()
endfunction()

# The documentation every package carries: copyright, change log and lintian overrides
# (further override lines may follow the package name).
function(vel_install_package_docs component package)
  set(changelog ${vel_pkg_bin}/${package}/changelog.Debian)
  configure_file(${vel_pkg_src}/changelog.Debian.in ${changelog} @ONLY)
  vel_gzip_file(${changelog} ${changelog}.gz)
  add_custom_target(vel_${component}_changelog ALL DEPENDS ${changelog}.gz)
  install(FILES ${vel_pkg_src}/copyright ${changelog}.gz
          DESTINATION ${VEL_DOC_DIR}/${package} COMPONENT ${component})
  set(overrides ${vel_pkg_bin}/${package}/lintian-overrides)
  file(READ ${vel_pkg_src}/${package}.lintian-overrides text)
  file(WRITE ${overrides} "${text}${ARGN}")
  install(FILES ${overrides}
          DESTINATION usr/share/lintian/overrides RENAME ${package} COMPONENT ${component})
endfunction()

function(vel_install_manpage component page section)
  set(gz ${vel_pkg_bin}/man/${page}.${section}.gz)
  vel_gzip_file(${PROJECT_SOURCE_DIR}/man/${page}.${section} ${gz})
  add_custom_target(vel_${component}_manpage ALL DEPENDS ${gz})
  install(FILES ${gz} DESTINATION ${VEL_MAN_DIR}/man${section} COMPONENT ${component})
endfunction()

set(CPACK_COMPONENTS_ALL)

if(TARGET vellauncher)
  set(launcher_perms OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
      WORLD_READ WORLD_EXECUTE)
  if(VEL_INSTALL_SETUID)
    list(APPEND launcher_perms SETUID)
  endif()
  install(TARGETS vellauncher RUNTIME DESTINATION ${VEL_LAUNCHER_BINDIR}
          PERMISSIONS ${launcher_perms} COMPONENT launcher)
  vel_install_links(launcher ${VEL_LAUNCHER_BINDIR} vellauncher ${VEL_CLI_COMMANDS} ${VEL_AUX_COMMANDS})
  install(DIRECTORY DESTINATION ${VEL_LOG_DIR} COMPONENT launcher)
  vel_install_manpage(launcher vellauncher 8)
  set(setuid_override)
  if(VEL_INSTALL_SETUID)
    set(setuid_override "# Set-user-ID root by choice of the installer: the launcher gives up root before
# the command's Java code runs.
${VEL_LAUNCHER_PACKAGE}: elevated-privileges 4755 root/root *\n")
  endif()
  vel_install_package_docs(launcher ${VEL_LAUNCHER_PACKAGE} "${setuid_override}")
  list(APPEND CPACK_COMPONENTS_ALL launcher)
endif()

if(TARGET clifclient)
  install(TARGETS clifclient RUNTIME DESTINATION ${VEL_CLIENT_BINDIR} COMPONENT client)
  vel_install_links(client ${VEL_CLIENT_BINDIR} clifclient ${VEL_CLI_COMMANDS})
  # A configuration file that is already there is the administrator's: never replace it.
  # (The package marks it as a conffile, so dpkg keeps a changed one as well.)
  install(CODE "
    set(cfg \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${VEL_CLIENT_BINDIR}/CLIClientConfig.cfg\")
    if(EXISTS \"\${cfg}\" OR IS_SYMLINK \"\${cfg}\")
      message(STATUS \"Keeping: \${cfg}\")
    else()
      message(STATUS \"Installing: \${cfg}\")
      file(INSTALL \"${PROJECT_SOURCE_DIR}/client/CLIClientConfig.cfg.sample\"
           DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${VEL_CLIENT_BINDIR}\"
           RENAME CLIClientConfig.cfg
           PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    endif()"
    COMPONENT client)
  vel_install_manpage(client clifclient 1)
  # "man velnode" (and each command's name) finds the client's page.
  list(TRANSFORM VEL_CLI_COMMANDS APPEND ".1.gz" OUTPUT_VARIABLE client_man_links)
  vel_install_links(client ${VEL_MAN_DIR}/man1 clifclient.1.gz ${client_man_links})
  vel_install_package_docs(client ${VEL_CLIENT_PACKAGE})
  list(APPEND CPACK_COMPONENTS_ALL client)
endif()

# Debian packages: `cpack -G DEB` in the build directory writes one package per component.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vel)
set(CPACK_PACKAGE_VENDOR "Orva")
set(CPACK_PACKAGE_CONTACT "vel maintainers <vel-maintainers@orva.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX "/")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_STRIP_FILES ON)
# Directories the packages share with the system are not listed as their own.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_LAUNCHER_PACKAGE_NAME ${VEL_LAUNCHER_PACKAGE})
set(CPACK_COMPONENT_LAUNCHER_DESCRIPTION
  "Orva Fleetwise Java command launcher\nvellauncher runs the management commands of the central management server:\ninstalled under each command name, it creates a Java virtual machine in its\nown process and calls the command's Java class.")
# dpkg-shlibdeps finds the C and C++ runtimes. The Java runtime package publishes no shared-library
# information, so the launcher depends by name on the package that holds the libjvm.so it was linked
# against (its run path names that runtime's directory; another runtime would not be found there).
set(CPACK_DEBIAN_LAUNCHER_PACKAGE_SHLIBDEPS ON)
if(TARGET vellauncher)
  file(REAL_PATH "${JAVA_JVM_LIBRARY}" jvm_library)
  execute_process(COMMAND dpkg-query -S "${jvm_library}" OUTPUT_VARIABLE jvm_owner
                  RESULT_VARIABLE jvm_status ERROR_QUIET)
  if(jvm_status EQUAL 0 AND jvm_owner MATCHES "^([^:, ]+)")
    set(CPACK_DEBIAN_LAUNCHER_PACKAGE_DEPENDS "${CMAKE_MATCH_1}")
    message(STATUS "vel-launcher depends on ${CMAKE_MATCH_1} (${jvm_library})")
  else()
    message(WARNING "No Debian package holds ${jvm_library}: vel-launcher names no Java runtime")
  endif()
endif()

set(CPACK_DEBIAN_CLIENT_PACKAGE_NAME ${VEL_CLIENT_PACKAGE})
set(CPACK_COMPONENT_CLIENT_DESCRIPTION
  "Orva Fleetwise remote command client\nclifclient runs management commands on the central management server over\nSOAP on HTTPS, relays their input and output and ends with their exit status.")
# dpkg-shlibdeps adds the packages of the libraries the client links: gSOAP's runtime, OpenSSL's
# and the C and C++ runtimes, named as this release names them.
set(CPACK_DEBIAN_CLIENT_PACKAGE_SHLIBDEPS ON)
file(WRITE ${vel_pkg_bin}/client-control/conffiles "/${VEL_CLIENT_BINDIR}/CLIClientConfig.cfg\n")
set(CPACK_DEBIAN_CLIENT_PACKAGE_CONTROL_EXTRA ${vel_pkg_bin}/client-control/conffiles)

# CPack counts each command link at the size of its target; the packages' Installed-Size is set
# again from their files once they are made.
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/deb/InstalledSize.cmake)

include(CPack)
