# `make package` in a host build: a Debian package of the installed layout,
# isorun_VERSION_amd64.deb, installing under /usr; xorriso (folders to images) recommended.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME isorun)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "makes self-extracting setup runners from folders and disc images")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "isorun developers")
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, liblzma5, zlib1g")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS xorriso)
include(CPack)
