# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
#
# Everything installed around the binary: manual pages, the configuration
# file, udev rule, systemd units and bash completion.

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
set(PELMOR_UNITS pelmor-init-receiver@.service pelmor-heartbeat.service pelmor-resume.service)
foreach(unit ${PELMOR_UNITS})
  configure_file(${PROJECT_SOURCE_DIR}/data/systemd/${unit}.in ${PROJECT_BINARY_DIR}/systemd/${unit} @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/systemd/${unit} DESTINATION ${PELMOR_SYSTEMD_UNIT_DIR})
endforeach()

install(FILES data/udev/70-pelmor.rules DESTINATION ${PELMOR_UDEV_RULES_DIR})
install(FILES README.md README.zh-CN.md NEWS.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The configuration file the units read, every key at its default. One that
# is there already is the administrator's, and an install by hand keeps it;
# the package leaves that to dpkg, which keeps an edited conffile.
get_filename_component(system_config_dir ${PELMOR_SYSTEM_CONFIG} DIRECTORY)
install(CODE "
  if(EXISTS \"\$ENV{DESTDIR}${PELMOR_SYSTEM_CONFIG}\")
    message(STATUS \"Kept: \$ENV{DESTDIR}${PELMOR_SYSTEM_CONFIG}\")
  else()
    file(INSTALL ${PROJECT_SOURCE_DIR}/data/pelmor.conf DESTINATION ${system_config_dir})
  endif()")
install(FILES data/bash-completion/pelmor-helper DESTINATION ${PELMOR_BASH_COMPLETION_DIR})
install(FILES data/metainfo/invalid.pelmor.helper.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Manual pages (English, and Chinese under zh_CN) are installed compressed,
# as distributions want them; the pages carry the version.
find_program(PELMOR_GZIP gzip)
if(NOT PELMOR_GZIP)
  message(FATAL_ERROR "gzip not found: it compresses the manual pages")
endif()
set(compressed)
function(pelmor_compressed source output)
  add_custom_command(OUTPUT ${output}
    COMMAND ${PELMOR_GZIP} -9nc ${source} > ${output}
    DEPENDS ${source} VERBATIM)
  set(compressed ${compressed} ${output} PARENT_SCOPE)
endfunction()
# A page of man/ (language "") or of man/LANGUAGE/; install paths are kept
# free of "." and "//", which CMake 3.31 and later would warn about.
function(pelmor_manual_page page language)
  string(REGEX REPLACE ".*[.]([0-9])$" "man\\1" section ${page})
  if(language)
    set(language ${language}/)
  endif()
  set(folder ${PROJECT_BINARY_DIR}/man/${language})
  configure_file(${PROJECT_SOURCE_DIR}/man/${language}${page} ${folder}${page} @ONLY)
  pelmor_compressed(${folder}${page} ${folder}${page}.gz)
  install(FILES ${folder}${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/${language}${section})
  set(compressed ${compressed} PARENT_SCOPE)
endfunction()
foreach(page pelmor-helper.1 pelmor.conf.5)
  pelmor_manual_page(${page} "")
  pelmor_manual_page(${page} zh_CN)
endforeach()
add_custom_target(pelmor_compressed_docs ALL DEPENDS ${compressed})
