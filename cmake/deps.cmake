# Third-party libraries: zlib, liblzma and GoogleTest, from the system (host) or from the
# bootstrap's cross-built prefix (win32). Missing ones are installed by scripts/bootstrap.
find_package(ZLIB REQUIRED)
find_package(LibLZMA REQUIRED)
if(WIN32)
  # The cross-built liblzma is static; its header must not ask for dllimport.
  set_property(TARGET LibLZMA::LibLZMA APPEND PROPERTY INTERFACE_COMPILE_DEFINITIONS LZMA_API_STATIC)
endif()
if(NOT ISORUN_FUZZ)
  find_package(GTest REQUIRED)
endif()

# zlib and liblzma as a program links them: the shared libraries, or their static archives for
# a program that sets ISORUN_STATIC_LINK (the shipped Linux runner, linked with -static).
add_library(isorun_compression INTERFACE)
if(NOT WIN32)
  find_library(ISORUN_ZLIB_ARCHIVE NAMES libz.a)
  find_library(ISORUN_LZMA_ARCHIVE NAMES liblzma.a)
endif()
set(isorun_static_link "$<BOOL:$<TARGET_PROPERTY:ISORUN_STATIC_LINK>>")
target_link_libraries(isorun_compression INTERFACE
  "$<$<NOT:${isorun_static_link}>:ZLIB::ZLIB;LibLZMA::LibLZMA>"
  "$<${isorun_static_link}:${ISORUN_LZMA_ARCHIVE};${ISORUN_ZLIB_ARCHIVE}>")
target_include_directories(isorun_compression INTERFACE ${ZLIB_INCLUDE_DIRS} ${LIBLZMA_INCLUDE_DIRS})
