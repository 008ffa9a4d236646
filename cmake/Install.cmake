# Installation layout and Debian packages.
#
#   launcher component (package vel-launcher): /opt/vel/bin/vellauncher and one link per command of
#     the launcher's tables, /var/opt/vel/logs for trace files.
#   client component (package vel-clifclient): clifclient and one link per CLI command in
#     ${VEL_CLIENT_BINDIR}, with a sample CLIClientConfig.cfg beside them (the client reads its
#     configuration from the bin directory it is started from).
#
# The two packages install into different directories, so both can live on the CMS.

set(VEL_LAUNCHER_BINDIR "opt/vel/bin" CACHE STRING "Launcher directory, relative to the install prefix")
set(VEL_CLIENT_BINDIR "opt/vel/clif/bin" CACHE STRING "Client directory, relative to the install prefix")
option(VEL_INSTALL_SETUID "Install vellauncher set-user-ID root" OFF)

# Commands that run on the CMS through the launcher; the first group is also what the client is
# installed for.
set(VEL_CLI_COMMANDS
  velexec velnode velngroup veltool veluser velrole veltoolbox velauth veldebug velquery velfolder
  velmib velstm veltask velwbemsub velreport veldbgui)
set(VEL_AUX_COMMANDS
  orvafw velconfigrepo velrepositorysave velrepositoryrestore veldbdatasave velversion
  velinitialization velinventory
  velnodesecurity velagentconfig velpassword velinitconfig vellog veloracleconfig velgetdbinfo velvtb
  velinit velgethostname velmakekeys)

include(GNUInstallDirs)

function(vel_install_links component dir target)
  foreach(cmd IN LISTS ARGN)
    install(CODE "
      set(link \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${dir}/${cmd}\")
      message(STATUS \"Installing: \${link} -> ${target}\")
      file(CREATE_LINK ${target} \"\${link}\" SYMBOLIC)"
      COMPONENT ${component})
  endforeach()
endfunction()

if(TARGET vellauncher)
  if(VEL_INSTALL_SETUID)
    set(launcher_perms OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
        WORLD_READ WORLD_EXECUTE SETUID)
  else()
    set(launcher_perms OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
        WORLD_READ WORLD_EXECUTE)
  endif()
  install(TARGETS vellauncher RUNTIME DESTINATION ${VEL_LAUNCHER_BINDIR}
          PERMISSIONS ${launcher_perms} COMPONENT launcher)
  vel_install_links(launcher ${VEL_LAUNCHER_BINDIR} vellauncher ${VEL_CLI_COMMANDS} ${VEL_AUX_COMMANDS})
  install(DIRECTORY DESTINATION var/opt/vel/logs COMPONENT launcher)
  install(FILES ${PROJECT_SOURCE_DIR}/man/vellauncher.8
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man8 COMPONENT launcher)
endif()

if(TARGET clifclient)
  install(TARGETS clifclient RUNTIME DESTINATION ${VEL_CLIENT_BINDIR} COMPONENT client)
  vel_install_links(client ${VEL_CLIENT_BINDIR} clifclient ${VEL_CLI_COMMANDS})
  # A configuration file that is already there is the administrator's: never replace it.
  install(CODE "
    set(cfg \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${VEL_CLIENT_BINDIR}/CLIClientConfig.cfg\")
    if(EXISTS \"\${cfg}\")
      message(STATUS \"Keeping: \${cfg}\")
    else()
      message(STATUS \"Installing: \${cfg}\")
      file(COPY_FILE \"${PROJECT_SOURCE_DIR}/client/CLIClientConfig.cfg.sample\" \"\${cfg}\")
    endif()"
    COMPONENT client)
  install(FILES ${PROJECT_SOURCE_DIR}/man/clifclient.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT client)
endif()

# Debian packages: cpack -G DEB in the build directory.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_VENDOR "Orva")
set(CPACK_PACKAGE_CONTACT "vel maintainers <vel@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX "/")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL)
if(TARGET vellauncher)
  list(APPEND CPACK_COMPONENTS_ALL launcher)
endif()
if(TARGET clifclient)
  list(APPEND CPACK_COMPONENTS_ALL client)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_LAUNCHER_PACKAGE_NAME vel-launcher)
set(CPACK_DEBIAN_LAUNCHER_DESCRIPTION
  "Orva Fleetwise Java command launcher\n vellauncher starts the management commands of the central management server\n in a Java virtual machine created in its own process.")
set(CPACK_DEBIAN_LAUNCHER_PACKAGE_DEPENDS "libc6, libstdc++6, openjdk-17-jre-headless")
set(CPACK_DEBIAN_CLIENT_PACKAGE_NAME vel-clifclient)
set(CPACK_DEBIAN_CLIENT_DESCRIPTION
  "Orva Fleetwise remote command client\n clifclient runs management commands on the central management server over\n SOAP on HTTPS and relays their input and output.")
set(CPACK_DEBIAN_CLIENT_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_CLIENT_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/client-conffiles/conffiles)
file(WRITE ${PROJECT_BINARY_DIR}/client-conffiles/conffiles "/${VEL_CLIENT_BINDIR}/CLIClientConfig.cfg\n")
include(CPack)
