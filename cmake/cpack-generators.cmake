# What differs between CPack's generators, read by cpack for each one: the
# Debian package installs under /usr, the archives hold a folder of their own.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
endif()
