# Hardening of the launcher's code and executable. Every option here is
# understood by both GNU ld and lld's MinGW driver.

# Product code: stack canaries in functions with arrays or address-taken
# locals, and the MinGW-w64 headers' checked string and stdio functions.
# Whatever links the code also links the stack-protector support library
# (libssp), statically like the rest of the runtime; the launcher executable
# defines the guard and its failure handler itself (src/launcher/stack_guard.cpp),
# so libssp's guard set-up is not linked into it.
set(LAUNCHER_HARDENED_CODE_OPTIONS -fstack-protector-strong -D_FORTIFY_SOURCE=2)

function(launcher_hardened_code target)
    target_compile_options(${target} PRIVATE
        "$<$<COMPILE_LANGUAGE:C,CXX>:${LAUNCHER_HARDENED_CODE_OPTIONS}>")
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "STATIC_LIBRARY")
        target_link_options(${target} INTERFACE -fstack-protector-strong)
    else()
        target_link_options(${target} PRIVATE -fstack-protector-strong)
    endif()
endfunction()

# The executable's header: terminal-server aware, Vista (6.0) as the lowest
# system for both the OS and the subsystem version, and, on i686, no
# structured-exception handlers of its own (C++ exceptions unwind with DWARF
# tables; the runtime installs only a vectored handler and the unhandled-
# exception filter, which are not frame handlers). ASLR with relocations and
# DEP are set for every executable.
function(launcher_hardened_image target)
    target_link_options(${target} PRIVATE
        -Wl,--tsaware
        -Wl,--major-os-version,6,--minor-os-version,0
        -Wl,--major-subsystem-version,6,--minor-subsystem-version,0)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        target_link_options(${target} PRIVATE -Wl,--no-seh)
    endif()
endfunction()
