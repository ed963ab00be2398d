# A Debian package of what the install rules install, for /usr:
#   cmake -S . -B build -DMEK_PYTHON_INSTALL_DIR=lib/python3/dist-packages
#   cmake --build build
#   cpack --config build/CPackConfig.cmake -G DEB -B build/package
# gives build/package/mek_VERSION_ARCH.deb with the tool, its man page, the
# core library with its headers and CMake package, and the Python module in
# the folder Debian's python3 reads.
set(CPACK_PACKAGE_NAME mek)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Japanese character code converter")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Japanese character code converter, C++ library and Python module
 Converts Japanese text between Shift_JIS, cp932, EUC-JP (with JIS X 0212),
 ISO-2022-JP, the JIS X 0213 codes, UTF-8, UTF-16 and UTF-32, detects the
 input code, rewrites line endings, and replaces files only whole.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "mek developers <mek@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION text)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The libraries the tool and the module link, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(MEK_PYTHON)
  # The module is built for one Python: the one it was built with.
  math(EXPR mek_python_next "${Python3_VERSION_MINOR} + 1")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "python3 (>= ${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR}), python3 (<< ${Python3_VERSION_MAJOR}.${mek_python_next})")
  # Python writes byte-code caches beside the module; removing the package
  # removes them too.
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/prerm)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
endif()
include(CPack)
