# Builds for 32-bit Linux with the host's gcc (-m32): size_t and pointers as narrow as in the
# Windows runner, with the i386 libraries of Debian's multiarch (/usr/lib/i386-linux-gnu) and a
# GoogleTest the bootstrap builds for it.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -m32)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(FIND_LIBRARY_USE_LIB64_PATHS OFF)
set(ISORUN_DEPS_PREFIX "/opt/isorun-deps/i686-linux-gnu" CACHE PATH "dependencies built for i686")
list(APPEND CMAKE_PREFIX_PATH ${ISORUN_DEPS_PREFIX})
