# Installing the library for hosts built outside this tree: public headers under
# include/orba, the shared libraries with versioned names, orbabt, a CMake package with
# imported targets (OrbaBillTransmit::runtime, ::library, ::hostkit), pkg-config files,
# systemd units for orbabt's service and timed pulls, and a Debian package made by CPack
# (`make package`).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# Two parts, which the Debian build makes two packages of: "runtime" (libraries, window
# modules, orbabt and its manual pages and completion, units, the SQLite extension, the
# README) and "dev" (headers, link names, the CMake package, pkg-config files) for building a
# host. What names no part is runtime.
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME runtime)

set(ORBA_PACKAGE_NAME OrbaBillTransmit)
set(ORBA_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/${ORBA_PACKAGE_NAME})

# Versioned shared objects (ORBA_SOVERSION: major.minor). The window modules are loaded by
# that versioned name, so a library never loads the windows of another release.
set_target_properties(orba_runtime PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${ORBA_SOVERSION}
                      EXPORT_NAME runtime)
set_target_properties(OrbaBillTransmit PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${ORBA_SOVERSION}
                      EXPORT_NAME library)
set_target_properties(orba_hostkit PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${ORBA_SOVERSION}
                      EXPORT_NAME hostkit)
set_target_properties(OrbaBillTransmitWindows orba_hostkit_windows PROPERTIES VERSION ${PROJECT_VERSION}
                      SOVERSION ${ORBA_SOVERSION})

# An installed consumer writes #include <orba/facade/bill_trans.h>; the headers themselves
# include each other as "platform/variant.h", which the second folder resolves.
target_include_directories(orba_runtime INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>
                           $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/orba>)

# Installed programs and libraries find the libraries relative to themselves, so an
# install prefix can be moved or unpacked anywhere.
file(RELATIVE_PATH ORBA_BIN_TO_LIB /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBDIR})
set_target_properties(orba_runtime OrbaBillTransmit orba_hostkit OrbaBillTransmitWindows orba_hostkit_windows
                      PROPERTIES INSTALL_RPATH "$ORIGIN")
if(TARGET orbabt)
  set_target_properties(orbabt PROPERTIES INSTALL_RPATH "$ORIGIN/${ORBA_BIN_TO_LIB}")
endif()

# What a host needs: the runtime, the containers, login properties, the registration entry
# points, the two public classes, the bill types and record keys, the transmission log's
# location, and the host kit's registration, login string, sample data, account database,
# connection, schema, saving component, fingerprints and system information. Internal headers
# stay out.
set(ORBA_PUBLIC_HEADERS
    platform/containers.h platform/date.h platform/decimal.h platform/dispatch.h platform/error.h
    platform/json_codec.h platform/module_dir.h platform/object.h platform/recordset.h
    platform/registry.h platform/ui_services.h platform/variant.h
    host/library_objects.h host/login_props.h host/variant_dictionary.h host/variant_json.h
    host/variant_vector.h
    data/bill_types.h data/data_trans.h data/record_keys.h
    facade/bill_trans.h facade/registration.h facade/transmit_log.h
    hostkit/app_connection.h hostkit/bill_fingerprint.h hostkit/database.h hostkit/hostkit.h hostkit/list_receiver.h
    hostkit/login_string.h hostkit/sample_data.h hostkit/save_data.h hostkit/schema.h hostkit/sha256.h
    hostkit/shared_database.h
    hostkit/sql_trace.h hostkit/sys_info.h hostkit/translated_statement.h)
foreach(header IN LISTS ORBA_PUBLIC_HEADERS)
  get_filename_component(folder ${header} DIRECTORY)
  install(FILES ${CMAKE_SOURCE_DIR}/${header} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/orba/${folder}
          COMPONENT dev)
endforeach()

install(TARGETS orba_runtime OrbaBillTransmit orba_hostkit EXPORT OrbaBillTransmitTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
# The window modules go beside the libraries that load them; nothing links them, so they
# need no development link name and are no part of the CMake package.
install(TARGETS OrbaBillTransmitWindows orba_hostkit_windows LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_SKIP)
if(TARGET orbabt)
  install(TARGETS orbabt RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # orbabt(1) and a page per command, and the completion bash loads when orbabt is typed.
  install(DIRECTORY ${ORBA_MANUALS_DIR}/man1 DESTINATION ${CMAKE_INSTALL_MANDIR})
  install(FILES ${ORBA_MANUALS_DIR}/completion/orbabt
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions)
endif()
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The SQLite extension with the text rules, beside the libraries, for the SQLite shell.
install(TARGETS orba_sqlite_ext LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})

# systemd units: orbabt serve per branch, and orbabt sync on a timer. The folder is
# <prefix>/lib/systemd/system whatever the library folder is: /usr/lib/systemd/system in the
# Debian package, /usr/local/lib/systemd/system for make install, both read by systemd. The
# units call orbabt by name, which systemd finds in /usr/local/bin or /usr/bin.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/systemd/orbabt-serve@.service
              ${CMAKE_SOURCE_DIR}/packaging/systemd/orbabt-sync@.service
              ${CMAKE_SOURCE_DIR}/packaging/systemd/orbabt-sync@.timer
        DESTINATION lib/systemd/system)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/systemd/branch.conf.example
              ${CMAKE_SOURCE_DIR}/packaging/systemd/branch-sync.json.example
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

install(EXPORT OrbaBillTransmitTargets NAMESPACE ${ORBA_PACKAGE_NAME}:: DESTINATION ${ORBA_CMAKE_DIR} COMPONENT dev)
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/OrbaBillTransmitConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/package/OrbaBillTransmitConfig.cmake
                              INSTALL_DESTINATION ${ORBA_CMAKE_DIR})
# Within 0.x only the same minor version promises the same interface.
write_basic_package_version_file(${CMAKE_BINARY_DIR}/package/OrbaBillTransmitConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/package/OrbaBillTransmitConfig.cmake
              ${CMAKE_BINARY_DIR}/package/OrbaBillTransmitConfigVersion.cmake
        DESTINATION ${ORBA_CMAKE_DIR} COMPONENT dev)

# pkg-config: the prefix is found from the .pc file's own place, so the install stays
# relocatable.
file(RELATIVE_PATH ORBA_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" ORBA_PC_TO_PREFIX "${ORBA_PC_TO_PREFIX}")
foreach(pc OrbaBillTransmit OrbaBillTransmit-hostkit)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/${pc}.pc.in ${CMAKE_BINARY_DIR}/package/${pc}.pc @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/package/${pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
endforeach()

# The Debian packages: orbabilltransmit (the runtime part) and orbabilltransmit-dev (the
# development part, which needs the runtime package of the same version). The runtime
# package's dependencies come from the libraries the installed programs and libraries link at
# run time (libsqlite3-0, libfmt9, libqt6widgets6, ...), never from -dev packages.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orbabilltransmit)
set(CPACK_PACKAGE_VENDOR "OrbaBillTransmit")
set(CPACK_PACKAGE_CONTACT "OrbaBillTransmit maintainers <orbabt@localhost>")
# Each part's summary is the first line of its own description.
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# A distribution package carries no debug information (the build tree keeps it).
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME orbabilltransmit)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
    "Moves bills between the account databases of related branches\n\
A component library that an ERP desktop client loads to move purchase orders, delivery notices\n\
and return notices between related branches of one company group. With its host kit on SQLite,\n\
the orbabt command-line host and its manual pages, its systemd units and the SQLite extension.")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)
# The server's client library is loaded by name when a server database is first used, so no
# installed file links it and the dependency is stated here.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "libpq5")
# The package's own libraries satisfy each other; dpkg-shlibdeps looks for them here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)
# Qt's own texts (message-box buttons) in the user's language.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_RECOMMENDS "qt6-translations-l10n")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME orbabilltransmit-dev)
set(CPACK_COMPONENT_DEV_DESCRIPTION
    "Moves bills between the account databases of related branches (development files)\n\
The headers, link names, CMake package and pkg-config files for building a host of the\n\
OrbaBillTransmit library and its host kit.")
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
# The pkg-config file requires fmt's; the runtime package must be this very version.
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "orbabilltransmit (= ${PROJECT_VERSION}), libfmt-dev")
set(CPACK_DEBIAN_DEV_PACKAGE_SUGGESTS "pkg-config, cmake")
include(CPack)
