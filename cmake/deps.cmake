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
