# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
#
# The protections Debian's build flags give a package, set here so that a
# plain cmake build has them too: a position-independent executable, stack
# protector and stack-clash protection, control-flow protection where the
# compiler has it, fortified libc calls in optimised builds, and a read-only
# relocation table bound at start-up.

include(CheckCXXCompilerFlag)
include(CheckPIESupported)

check_pie_supported()
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

foreach(flag -fstack-protector-strong -fstack-clash-protection -fcf-protection)
  string(MAKE_C_IDENTIFIER "PELMOR_HAS${flag}" has_flag)
  check_cxx_compiler_flag(${flag} ${has_flag})
  if(${has_flag})
    add_compile_options(${flag})
  endif()
endforeach()

# _FORTIFY_SOURCE needs optimisation, and the sanitizers do the same checks
# better on their own. Whatever the environment defined first is replaced.
if(NOT PELMOR_SANITIZE)
  add_compile_options("$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
endif()

add_link_options(-Wl,-z,relro -Wl,-z,now)
