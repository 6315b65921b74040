# The Debian package (scripts/package): one package with the plug-in, both
# programs, the SDK, the docs and the man pages. Its version is the project's,
# the same number the plug-in reports as its "version"; its dependencies come
# from the shared libraries the binaries link (dpkg-shlibdeps).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME dravik)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Dravik PD detector plug-in, simulator, host tool and SDK")
# CPack puts the summary above this as the package's first line.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "libdravik_v2.so is a Qt 5 device plug-in through which a host measurement\n"
    "application drives the Dravik partial-discharge detector over TCP.\n"
    "dravik-sim simulates the detector on a loopback port; dravik-host loads the\n"
    "plug-in and records measurements. The host contract headers and the CMake\n"
    "package DravikSdk let a host application build against the plug-in.")
set(CPACK_PACKAGE_CONTACT "Dravik plug-in team <dravik@localhost>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The SDK's users need Qt's development files, which no binary links.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "qtbase5-dev, cmake")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
