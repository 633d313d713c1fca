# The Debian package (scripts/package.sh): documentation files, and CPack's
# DEB generator with the package's description.
set(PLIMO_PACKAGE_MAINTAINER "plimo maintainers <maintainers@example.org>"
    CACHE STRING "Maintainer named in the Debian package")

# Debian wants the changelog and copyright beside every package's
# documentation; the changelog entry carries the project's version.
string(TIMESTAMP PLIMO_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.gz
  COMMAND gzip -9nfk changelog
  DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/packaging
  VERBATIM)
add_custom_target(changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright ${CMAKE_BINARY_DIR}/packaging/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME plimo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${PLIMO_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The libraries in <libdir> need the loader's cache refreshed.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/triggers)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "applies bundles of firmware, driver and software updates
plimo applies a bundle of update packages to one server in the order the
bundle fixes: it checks that the bundle applies to the machine, runs the
packages one after another, records every step in an XML status log and,
when a package needs it and the caller allows it, restarts the machine and
resumes the remaining packages afterwards through a systemd service.
.
The package holds the update plug-in, the Orvane console program, the
zuasvchost service host, the bundle-digest and plimo-sysid tools, their
libraries, manual pages and bash completion.")
include(CPack)
