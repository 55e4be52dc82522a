# Everything installed around the binary: manual pages, example
# configuration, udev rule, systemd units and bash completion.

# A pkg-config variable, or fallback when the module or variable is missing.
function(pelmor_pkg_variable out module variable fallback)
  pkg_get_variable(value ${module} ${variable})
  if(NOT value)
    set(value ${fallback})
  endif()
  set(${out} ${value} PARENT_SCOPE)
endfunction()

pelmor_pkg_variable(udev_dir udev udevdir /usr/lib/udev)
pelmor_pkg_variable(unit_dir systemd systemdsystemunitdir /usr/lib/systemd/system)
pelmor_pkg_variable(completion_dir bash-completion completionsdir
                    ${CMAKE_INSTALL_FULL_DATADIR}/bash-completion/completions)
set(PELMOR_UDEV_RULES_DIR ${udev_dir}/rules.d CACHE PATH "Where the udev rule goes")
set(PELMOR_SYSTEMD_UNIT_DIR ${unit_dir} CACHE PATH "Where the systemd units go")
set(PELMOR_BASH_COMPLETION_DIR ${completion_dir} CACHE PATH "Where the bash completion goes")

# The units name the installed binary; the hardening options are shared.
set(PELMOR_INSTALLED_BINARY ${CMAKE_INSTALL_FULL_BINDIR}/pelmor-helper)
file(READ ${PROJECT_SOURCE_DIR}/data/systemd/hardening.conf hardening)
string(REGEX REPLACE "#[^\n]*\n" "" PELMOR_UNIT_HARDENING "${hardening}")
string(STRIP "${PELMOR_UNIT_HARDENING}" PELMOR_UNIT_HARDENING)
set(PELMOR_UNITS pelmor-init-receiver.service pelmor-heartbeat.service)
foreach(unit ${PELMOR_UNITS})
  configure_file(${PROJECT_SOURCE_DIR}/data/systemd/${unit}.in ${PROJECT_BINARY_DIR}/systemd/${unit} @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/systemd/${unit} DESTINATION ${PELMOR_SYSTEMD_UNIT_DIR})
endforeach()

install(FILES data/udev/70-pelmor.rules DESTINATION ${PELMOR_UDEV_RULES_DIR})
install(FILES man/pelmor-helper.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES man/pelmor.conf.5 DESTINATION ${CMAKE_INSTALL_MANDIR}/man5)
install(FILES data/pelmor.conf.example README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES data/bash-completion/pelmor-helper DESTINATION ${PELMOR_BASH_COMPLETION_DIR})

# Debian package: cpack -G DEB in the build folder.
set(CPACK_PACKAGE_NAME pelmor-helper)
set(CPACK_PACKAGE_VENDOR "pelmor-helper developers")
set(CPACK_PACKAGE_CONTACT "pelmor-helper developers <maintainers@pelmor.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configure the pelmor wireless mouse receiver over HID")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Command-line tool that sends the configuration report to the receiver's\n management interfaces and keeps its configuration node alive with a\n heartbeat. Ships a udev rule and systemd units that do both on plug-in.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/data/debian/postinst ${PROJECT_SOURCE_DIR}/data/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The units name the binary by its configured path: package what was configured
# (configure with -DCMAKE_INSTALL_PREFIX=/usr for a Debian package).
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_GENERATOR DEB)
include(CPack)
