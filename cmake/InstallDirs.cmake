# Where things go, in the build tree and when installed (GNUInstallDirs):
#
#   bin/                                  dravik-host, dravik-sim
#   <libdir>/dravik/plugins/              libdravik_v2.so
#   <libdir>/libdravik_sdk.a              the host contract's meta-objects
#   <libdir>/cmake/DravikSdk/             find_package(DravikSdk)
#   include/dravik/                       the host contract headers
#   share/doc/dravik/                     README, docs, examples/minimal-host
#   share/man/man1/                       dravik-host.1, dravik-sim.1
#
# The plug-in gets a folder of its own under the library directory, as
# Debian's private plug-ins do (/usr/lib/<triplet>/<package>/), rather than
# Qt's plug-in path: hosts load it by file name, not through a Qt plug-in
# category, and Qt's path is an absolute one outside the install prefix, so
# an install under /opt, a DESTDIR or an unpacked package could not find it.

set(DRAVIK_PLUGIN_FILE_NAME libdravik_v2.so)
set(DRAVIK_INSTALL_PLUGINDIR ${CMAKE_INSTALL_LIBDIR}/dravik/plugins)
set(DRAVIK_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/dravik)
set(DRAVIK_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/DravikSdk)

# The build tree keeps programs and plug-in side by side as well.
set(DRAVIK_BUILD_BINDIR ${CMAKE_BINARY_DIR}/bin)
set(DRAVIK_BUILD_PLUGINDIR ${CMAKE_BINARY_DIR}/plugins)

# dravik-host looks for the plug-in relative to its own folder, so that a
# relocated or unpacked install finds it as well as the build tree does.
file(RELATIVE_PATH DRAVIK_PLUGINDIR_FROM_INSTALLED_BIN
     ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR}/dravik/plugins)
file(RELATIVE_PATH DRAVIK_PLUGINDIR_FROM_BUILD_BIN ${DRAVIK_BUILD_BINDIR} ${DRAVIK_BUILD_PLUGINDIR})
