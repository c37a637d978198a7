# Debian packages made by CPack from the install rules, one per install
# component (scripts/package.sh makes them):
#
#   package              component    what it holds
#   nebrix-cons          console      the programs, their manual pages, the completions,
#                                     README and the documents the pages name
#   libnebrix-trace1     library      libnebrix_trace.so.1 and the file it names,
#                                     symbols file
#   libnebrix-trace-dev  development  header, .so link, static library, pkg-config
#                                     file, CMake package, nebrix_trace(3)
#   python3-nebrix-trace python       the Python package nebrix_trace
#
# Their dependencies on other packages are what dpkg-shlibdeps finds in the
# binaries; only the development package's are declared: the library package
# of the same version, and zlib's development files, which a program linking
# the static library needs (-lz; nebrix-trace.pc requires zlib). The build
# must be configured with -DCMAKE_INSTALL_PREFIX=/usr, which also puts the
# library into the multiarch directory. debian_staging.cmake finishes each
# package's tree the way Debian wants it (compressed manual pages, copyright,
# changelog).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME nebrix-cons)
set(CPACK_PACKAGE_VENDOR "NEBRIX")
if(NOT CPACK_PACKAGE_CONTACT)
  set(CPACK_PACKAGE_CONTACT "NEBRIX maintainers <maintainers@nebrix.example>")
endif()
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL console library development)
# The Python package, where the build has the module (python3-dev).
if(TARGET python_nebrix_trace)
  list(APPEND CPACK_COMPONENTS_ALL python)
endif()
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Only the library package holds a shared library: its shlibs file says
# that programs linked with libnebrix_trace.so.1 need libnebrix-trace1 of
# at least this version.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

set(CPACK_DEBIAN_CONSOLE_PACKAGE_NAME nebrix-cons)
set(CPACK_DEBIAN_CONSOLE_PACKAGE_SECTION utils)
set(CPACK_COMPONENT_CONSOLE_DESCRIPTION "trace console of the NEBRIX database client library
nebrix_cons switches the traces of NEBRIX client processes on and off, in
the user's persistent client configuration and in running processes, and
shows the configuration, the per-process settings, profile counters and its
own usage history. vaultadm administers the encrypted key/value store that
holds the configuration; nebrix_trace_client is a client process that shows
the trace settings it follows.")

set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME libnebrix-trace1)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
# The symbols file names each exported function with its version node and
# the release that added it, so that dpkg-shlibdeps asks a program for the
# release of the newest function it calls. scripts/package.sh fails when it
# differs from what the built library exports: a function added to the
# library is added to it, with the new release (and node).
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/triggers ${CMAKE_CURRENT_LIST_DIR}/symbols)
set(CPACK_COMPONENT_LIBRARY_DESCRIPTION "NEBRIX trace library
Lets a program follow the trace settings that nebrix_cons switches: a cheap
check whether a trace category is on, and records written to the configured
trace file. This package holds the shared library.")

# The module's dependency on libnebrix-trace1 comes from the library's
# symbols file, as the console's does; the interpreter's is declared: the
# module uses the stable ABI of Python 3.11 and later.
set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-nebrix-trace)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3 (>= 3.11)")
set(CPACK_COMPONENT_PYTHON_DESCRIPTION "NEBRIX trace library for Python
Lets a Python program follow the trace settings that nebrix_cons switches:
nebrix_trace.enabled(nebrix_trace.SQL) is the cheap check whether a trace
category is on, nebrix_trace.trace() writes a record to the configured trace
file, and nebrix_trace.Handler(category) makes a logging handler of it.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libnebrix-trace-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS library)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS zlib1g-dev)
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION "NEBRIX trace library (development files)
Lets a program follow the trace settings that nebrix_cons switches: a cheap
check whether a trace category is on, and records written to the configured
trace file. This package holds the header, the static library, the
pkg-config file (nebrix-trace), the CMake package (NebrixTrace) and the
manual page nebrix_trace(3).")

# nebrix_trace_client links libnebrix_trace.so.1. dpkg-shlibdeps learns
# which package provides it from that package's shlibs file, which only a
# built library package has: scripts/package.sh makes libnebrix-trace1
# first (cpack -D NEBRIX_DEB_COMPONENTS=library), unpacks it with its
# control files into debian/libnebrix-trace1 of the build folder, as
# debhelper's build trees look, and then makes all three packages.
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/debian/libnebrix-trace1${CMAKE_INSTALL_FULL_LIBDIR})
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack_components.cmake)

set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/debian_staging.cmake)
include(CPack)
