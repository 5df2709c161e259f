# Cross-compiles for 64-bit Windows with Debian's clang and lld: the second
# compiler, for the product and its unit tests. It uses the MinGW-w64 C
# headers and GCC 12's posix libstdc++ and runtime libraries.
#
# There is no i686 counterpart: for a member function that returns a class
# by value, i686 GCC passes the return slot in ECX and `this` on the stack,
# clang the other way round, so clang code calling GCC's prebuilt libstdc++
# (std::string::substr, for one) crashes. x86_64 has one calling convention.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(triple x86_64-w64-mingw32)

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${triple})
set(CMAKE_CXX_COMPILER_TARGET ${triple})
# Resources are compiled by the MinGW resource compiler, as in the GCC build.
set(CMAKE_RC_COMPILER ${triple}-windres)

# clang does not find a GCC install whose version folder is "12-posix": name
# the C++ headers, and let -B pick GCC's crtbegin.o and crtend.o, the ones
# GCC links (the MinGW runtime's own do not register DWARF unwind tables).
# The posix threading library is what GCC's driver adds on its own.
set(gcc_dir /usr/lib/gcc/${triple}/12-posix)
set(CMAKE_CXX_FLAGS_INIT "-isystem ${gcc_dir}/include/c++ \
-isystem ${gcc_dir}/include/c++/${triple} -isystem ${gcc_dir}/include/c++/backward")

# Undefined-behaviour checks in trap mode: a check that fires executes an
# illegal instruction, so the process ends with 0xC000001D and the test
# fails. Trap mode needs no run-time library, which MinGW does not have.
set(ub_checks "-fsanitize=undefined -fsanitize-trap=undefined")
set(CMAKE_C_FLAGS_INIT ${ub_checks})
string(APPEND CMAKE_CXX_FLAGS_INIT " ${ub_checks}")
set(link_flags "-fuse-ld=lld -B${gcc_dir} -L${gcc_dir} -lpthread")
set(CMAKE_EXE_LINKER_FLAGS_INIT ${link_flags})
set(CMAKE_SHARED_LINKER_FLAGS_INIT ${link_flags})
set(CMAKE_MODULE_LINKER_FLAGS_INIT ${link_flags})

set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
