# The two Debian packages (scripts/package.sh runs CPack on them): jov-caixa, the register, and
# jov-servidor, the chain's server. The register's files go to a pristine copy in
# /opt/jov/caixa; its maintainer scripts copy them into the program folder /var/lib/jov/caixa.
set(JOV_PRISTINE opt/jov/caixa)
# The launcher's own files in the program folder, the ones the package installs, upgrades
# and purges there; everything else in that folder belongs to the register.
set(JOV_OWN_FILES JOV.EXE TRV.EXE Pkg_jov00000.bpl _DLL.bpl REV10000.bpl bin/wincmd bin/ping
  bin/icacls bin/TASKKILL bin/cmd.exe bin/net)
string(REPLACE ";" " " JOV_OWN_FILES_TEXT "${JOV_OWN_FILES}")

install(TARGETS jov_host RUNTIME DESTINATION ${JOV_PRISTINE} COMPONENT caixa)
install(TARGETS Pkg_jov00000 _DLL REV10000 LIBRARY DESTINATION ${JOV_PRISTINE} COMPONENT caixa)
install(TARGETS wincmd RUNTIME DESTINATION ${JOV_PRISTINE}/bin COMPONENT caixa)
install(PROGRAMS ${JOV_PROGRAM_DIR}/TRV.EXE DESTINATION ${JOV_PRISTINE} COMPONENT caixa)
# ping is a copy of wincmd of its own (it alone gets cap_net_raw); the other tools are links.
install(PROGRAMS ${JOV_PROGRAM_DIR}/bin/ping DESTINATION ${JOV_PRISTINE}/bin COMPONENT caixa)
foreach(tool icacls TASKKILL cmd.exe net)
  install(FILES ${JOV_PROGRAM_DIR}/bin/${tool} DESTINATION ${JOV_PRISTINE}/bin COMPONENT caixa)
endforeach()
install(FILES packaging/jov-caixa/clientlib.ini DESTINATION etc/jov COMPONENT caixa)
install(FILES packaging/jov-caixa/jov-caixa.service DESTINATION lib/systemd/system
  COMPONENT caixa)
install(FILES packaging/jov-caixa/jov-caixa.rules DESTINATION usr/share/polkit-1/rules.d
  COMPONENT caixa)
install(FILES packaging/jov-caixa/lintian-overrides DESTINATION usr/share/lintian/overrides
  RENAME jov-caixa COMPONENT caixa)

install(TARGETS jov-appserver jov-sign RUNTIME DESTINATION usr/bin COMPONENT servidor)
install(FILES packaging/jov-servidor/jov-appserver.service DESTINATION lib/systemd/system
  COMPONENT servidor)
install(FILES packaging/jov-servidor/jov-appserver.default DESTINATION etc/default
  RENAME jov-appserver COMPONENT servidor)

# Each package's copyright and changelog, as Debian wants them for a native package; the
# changelog and the manual pages compressed reproducibly (no name, no time stamp).
set(JOV_DEB_DIR ${CMAKE_BINARY_DIR}/debian)
foreach(JOV_DEB_PACKAGE jov-caixa jov-servidor)
  configure_file(packaging/changelog.in ${JOV_DEB_DIR}/${JOV_DEB_PACKAGE}/changelog @ONLY)
  execute_process(COMMAND gzip -9nf ${JOV_DEB_DIR}/${JOV_DEB_PACKAGE}/changelog)
endforeach()
foreach(page jov-appserver.1 jov-sign.1)
  configure_file(packaging/jov-servidor/${page} ${JOV_DEB_DIR}/man/${page} COPYONLY)
  execute_process(COMMAND gzip -9nf ${JOV_DEB_DIR}/man/${page})
  install(FILES ${JOV_DEB_DIR}/man/${page}.gz DESTINATION usr/share/man/man1 COMPONENT servidor)
endforeach()
foreach(component caixa servidor)
  install(FILES packaging/copyright ${JOV_DEB_DIR}/jov-${component}/changelog.gz
    DESTINATION usr/share/doc/jov-${component} COMPONENT ${component})
  # Debian ships binaries without their debugging information.
  install(CODE "
    file(GLOB_RECURSE staged LIST_DIRECTORIES false \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/*\")
    foreach(file \${staged})
      if(NOT IS_SYMLINK \"\${file}\" AND (file MATCHES \"/(usr/bin|opt/jov/caixa)/\"))
        execute_process(COMMAND ${CMAKE_STRIP} --strip-unneeded --remove-section=.comment
          --remove-section=.note \"\${file}\")
      endif()
    endforeach()" COMPONENT ${component})
  foreach(script postinst prerm postrm)
    if(EXISTS ${PROJECT_SOURCE_DIR}/packaging/jov-${component}/${script}.in)
      configure_file(packaging/jov-${component}/${script}.in ${JOV_DEB_DIR}/jov-${component}/${script}
        @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
        WORLD_READ WORLD_EXECUTE)
    endif()
  endforeach()
endforeach()
file(WRITE ${JOV_DEB_DIR}/jov-caixa/conffiles "/etc/jov/clientlib.ini\n")
file(WRITE ${JOV_DEB_DIR}/jov-servidor/conffiles "/etc/default/jov-appserver\n")

# What the packages ship, built by the target jov_package_files alone (scripts/package.sh), and
# CPack's install step builds nothing more: the tests and benchmarks are not packaged.
add_custom_target(jov_package_files)
add_dependencies(jov_package_files jov_host Pkg_jov00000 _DLL REV10000 wincmd jov-appserver
  jov-sign)
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_SOURCE_DIR}/build/packages)
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_SOURCE_DIR}/build/packages)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL caixa servidor)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Jov launcher developers <jov@lojas.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${JOV_PROGRAM_DIR})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_CAIXA_PACKAGE_NAME jov-caixa)
set(CPACK_DEBIAN_CAIXA_PACKAGE_DEPENDS
  "adduser, libcap2-bin, polkitd, seatd, qt6-wayland, qt6-qpa-plugins, libqt6sql6-sqlite, libqt6sql6-psql, cage, xwayland, fonts-dejavu-core, fonts-liberation")
set(CPACK_COMPONENT_CAIXA_DESCRIPTION "start-up launcher of the chain's cash registers
The register's first screen: it checks the application server, installs
newer client programs, settles the branch and register codes and lets the
operator into the point-of-sale system. It runs full screen under cage
(Wayland) as the system user caixa, started by jov-caixa.service.")
set(CPACK_DEBIAN_CAIXA_PACKAGE_CONTROL_EXTRA
  "${JOV_DEB_DIR}/jov-caixa/postinst;${JOV_DEB_DIR}/jov-caixa/prerm;${JOV_DEB_DIR}/jov-caixa/postrm;${JOV_DEB_DIR}/jov-caixa/conffiles")

set(CPACK_DEBIAN_SERVIDOR_PACKAGE_NAME jov-servidor)
set(CPACK_DEBIAN_SERVIDOR_PACKAGE_DEPENDS "adduser")
set(CPACK_COMPONENT_SERVIDOR_DESCRIPTION "reference application server of the chain's registers
jov-appserver answers the registers' calls and serves (or points them to)
the program archives of their updates; jov-sign makes the chain's Ed25519
key and signs the archives. jov-appserver.service runs the server as its
own unprivileged user with its settings in /etc/default/jov-appserver.")
set(CPACK_DEBIAN_SERVIDOR_PACKAGE_CONTROL_EXTRA
  "${JOV_DEB_DIR}/jov-servidor/postinst;${JOV_DEB_DIR}/jov-servidor/prerm;${JOV_DEB_DIR}/jov-servidor/postrm;${JOV_DEB_DIR}/jov-servidor/conffiles")
include(CPack)
