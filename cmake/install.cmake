# Installation (cmake --install BUILD --prefix PREFIX) and the Debian package (cpack -G DEB).
#
#   PREFIX/bin/poisson_to_kavro
#   PREFIX/bin/kavro-field                  the companion's launcher
#   PREFIX/lib/python3/dist-packages/kavro_field/
#                                           its package, where the distribution's python3 looks
#                                           (PREFIX /usr) and the launcher finds it (any PREFIX)
#   PREFIX/share/man/man1/                  poisson_to_kavro.1, kavro-field.1
#   PREFIX/share/doc/poisson-to-kavro/      README.md, the user's guide (docs/) and the pictures they show
# Debian package names allow no underscore; the documentation folder follows the package's name.
set(P2K_PACKAGE poisson-to-kavro)
set(CMAKE_INSTALL_DOCDIR share/doc/${P2K_PACKAGE} CACHE PATH "documentation folder")
include(GNUInstallDirs)

install(TARGETS poisson_to_kavro RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(PROGRAMS python/kavro-field DESTINATION ${CMAKE_INSTALL_BINDIR})
# Debian's python3 searches lib/python3/dist-packages whatever the platform's library folder is.
set(P2K_PYTHON_DIR lib/python3/dist-packages)
install(DIRECTORY python/kavro_field DESTINATION ${P2K_PYTHON_DIR}
        FILES_MATCHING PATTERN "*.py" PATTERN "__pycache__" EXCLUDE)

foreach(page poisson_to_kavro.1 kavro-field.1)
  configure_file(man/${page} ${CMAKE_BINARY_DIR}/man/${page} @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/man/${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES docs/guide.md docs/kavro-field-lens.png docs/kavro-field-solenoid.png DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${P2K_PACKAGE})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "poisson_to_kavro maintainers <poisson-to-kavro@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Converter of 2D axially symmetric Poisson field tables into KAVRO 3D field files")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "poisson_to_kavro converts a two-dimensional, axially symmetric (r, z) field table written\n\
by the Poisson field solver into the three-dimensional Cartesian field file (25 x 25 x 201\n\
nodes) that the KAVRO beam-dynamics code reads. kavro-field reads, checks, plots, compares\n\
and exports these field files.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The converter's own libraries (libc, libm) are found by dpkg-shlibdeps; the companion's are named.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3, python3-numpy, python3-matplotlib")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3-h5py, python3-xarray, python3-vtk9")
# An import by the distribution's python3 compiles the package into __pycache__, which dpkg does
# not know: removed before the package's files go, so that dpkg -r leaves nothing behind.
configure_file(cmake/prerm.in ${CMAKE_BINARY_DIR}/debian/prerm @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/debian/prerm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
