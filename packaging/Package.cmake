# The Debian package: `cpack -G DEB` in a build folder configured for release. The programs'
# library dependencies come from dpkg-shlibdeps; the maintainer scripts make udev apply the
# phones' rule without a replug.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarnflow)
set(CPACK_PACKAGE_VENDOR "Tarnflow")
set(TARNFLOW_PACKAGE_MAINTAINER
    "Tarnflow maintainers <maintainers@users.noreply.c-seed-c727b617.example>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT "${TARNFLOW_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "write firmware images into many phones through their serial boot loaders")
set(CPACK_PACKAGE_DESCRIPTION
    "Tarnflow writes firmware images into up to twenty phones at once through
their serial boot loaders, with a window showing each phone's progress and
status log, and a command line for scripts and test benches. A phone
simulator and a sample image maker let a trainee try it without phones. A
udev rule keeps ModemManager off the phones' USB modem ports, lets the user
at the desktop open them and links them by USB socket.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/postinst
                                       ${CMAKE_CURRENT_LIST_DIR}/debian/postrm)
# Maintainer scripts get mode 755 whatever the checkout's file modes.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
