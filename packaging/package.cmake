# What an install holds besides the programs, and the Debian and RPM
# packages made of it (cpack -G DEB, cpack -G RPM in the build folder).
#
#   PREFIX/bin/stelvane-mpi, PREFIX/bin/stelvane-report, PREFIX/bin/stelvane-check
#   PREFIX/share/stelvane-check/stelvane_check/*.py (stelvane-check's modules)
#   PREFIX/share/man/man1/stelvane-mpi.1.gz, stelvane-report.1.gz, stelvane-check.1.gz
#   PREFIX/share/modulefiles/stelvane-mpi/VERSION   (Lmod, Environment Modules)
#   PREFIX/share/doc/stelvane-mpi/copyright (LICENSE's terms), changelog.Debian.gz
#   PREFIX/share/doc/stelvane-mpi/examples/: stelvane-check's systemd units and scrontab line

# The MPI family's names, decided once: the two builds' packages stand
# beside each other, never over each other.
if(STELVANE_MPI_FAMILY STREQUAL "mpich")
  set(MPI_DESCRIPTION "MPICH")
  set(MPI_LAUNCHER_PACKAGE mpich)
  set(MPI_RPM_PACKAGE mpich)
  set(STELVANE_PACKAGE stelvane-mpi-mpich)
  set(OTHER_FAMILY_PACKAGE stelvane-mpi)
else()
  set(MPI_DESCRIPTION "Open MPI")
  set(MPI_LAUNCHER_PACKAGE openmpi-bin)
  set(MPI_RPM_PACKAGE openmpi)
  set(STELVANE_PACKAGE stelvane-mpi)
  set(OTHER_FAMILY_PACKAGE stelvane-mpi-mpich)
endif()

# Man pages and the changelog go in compressed, as Debian's policy asks;
# -n keeps the time stamp out, so the same sources give the same package.
set(PACKAGING_OUT ${PROJECT_BINARY_DIR}/packaging)
set(COMPRESSED_DOCS)
foreach(source docs/man/stelvane-mpi.1 docs/man/stelvane-report.1 docs/man/stelvane-check.1 packaging/changelog)
  get_filename_component(name ${source} NAME)
  set(compressed ${PACKAGING_OUT}/${name}.gz)
  add_custom_command(OUTPUT ${compressed}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PACKAGING_OUT}
    COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/${source} > ${compressed}
    DEPENDS ${PROJECT_SOURCE_DIR}/${source} VERBATIM)
  list(APPEND COMPRESSED_DOCS ${compressed})
endforeach()
add_custom_target(compressed-docs ALL DEPENDS ${COMPRESSED_DOCS})

install(FILES ${PACKAGING_OUT}/stelvane-mpi.1.gz ${PACKAGING_OUT}/stelvane-report.1.gz
        ${PACKAGING_OUT}/stelvane-check.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES packaging/check/stelvane-check.service packaging/check/stelvane-check.timer
        packaging/check/stelvane-check.scrontab DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
configure_file(packaging/stelvane-mpi.module.in ${PACKAGING_OUT}/${PROJECT_VERSION} @ONLY)
install(FILES ${PACKAGING_OUT}/${PROJECT_VERSION} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/modulefiles/stelvane-mpi)
install(FILES packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${PACKAGING_OUT}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME changelog.Debian.gz)

set(CPACK_PACKAGE_NAME ${STELVANE_PACKAGE})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "stelvane-mpi developers <stelvane-support@vantrel.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "storage benchmark for the node-local file systems of a cluster")
# The summary above is its first line; this is the rest.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "stelvane-mpi is started by an MPI launcher as one process per rank and\n"
  "measures how well each node's local file system creates, opens and\n"
  "removes files, and writes and reads them byte by byte and in blocks.\n"
  "stelvane-report reads its result files and names the slow nodes;\n"
  "stelvane-check runs, keeps, judges and drains with one command under Slurm.\n"
  "This build runs under ${MPI_DESCRIPTION}.")
string(REPLACE ";" "" CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
set(CPACK_GENERATOR DEB)
find_program(RPMBUILD rpmbuild)
if(RPMBUILD)
  list(APPEND CPACK_GENERATOR RPM)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)  # the packaging's own revision, as packaging/changelog says
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries it links (the MPI library it was built against, the C++
# runtime) from dpkg-shlibdeps; the launcher of that MPI by name.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# stelvane-check is Python and drives Slurm's commands, which a node that
# only runs the benchmark needs not have.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${MPI_LAUNCHER_PACKAGE}, python3")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS slurm-client)
set(CPACK_DEBIAN_PACKAGE_CONFLICTS ${OTHER_FAMILY_PACKAGE})
# The RPM, for RHEL-family systems: their MPI packages are named openmpi and
# mpich; the libraries it links rpmbuild finds by itself.
set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
set(CPACK_RPM_PACKAGE_RELEASE 1)
set(CPACK_RPM_PACKAGE_LICENSE "BSD-3-Clause")  # LICENSE
set(CPACK_RPM_PACKAGE_GROUP "Applications/System")
set(CPACK_RPM_PACKAGE_SUMMARY "Storage benchmark for the node-local file systems of a cluster")
set(CPACK_RPM_PACKAGE_VENDOR "stelvane-mpi developers")
# No links under /usr/lib/.build-id: they would clash between the Open MPI
# and the MPICH build, and debug information is not shipped. And no
# rpmbuild steps after the install: CPack has stripped the programs and
# compressed the pages already, so the RPM holds byte for byte the programs
# the Debian package holds.
set(CPACK_RPM_SPEC_MORE_DEFINE
    "%define packager ${CPACK_PACKAGE_CONTACT}\n%define _build_id_links none\n%define __os_install_post %{nil}")
set(CPACK_RPM_PACKAGE_URL "https://vantrel.example/stelvane-mpi")
set(CPACK_RPM_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
set(CPACK_RPM_PACKAGE_REQUIRES "${MPI_RPM_PACKAGE}, python3")
set(CPACK_RPM_PACKAGE_SUGGESTS slurm)
set(CPACK_RPM_PACKAGE_CONFLICTS ${OTHER_FAMILY_PACKAGE})

# The RPM's changelog, made from the Debian one, which is kept by hand:
#   stelvane-mpi (1.0.0-1) unstable; urgency=medium
#     * Change, on one line
#       or more.
#    -- Name <address>  Mon, 07 Dec 2026 12:00:00 +0000
# becomes
#   * Mon Dec 07 2026 Name <address> - 1.0.0-1
#   - Change, on one line
#     or more.
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/changelog DEBIAN_CHANGELOG)
set(RPM_CHANGELOG "")
set(RPM_ENTRY "")
foreach(line IN LISTS DEBIAN_CHANGELOG)
  if(line MATCHES "^[a-z0-9.+-]+ \\(([^)]+)\\)")
    set(RPM_VERSION ${CMAKE_MATCH_1})
    set(RPM_ENTRY "")
  elseif(line MATCHES "^  \\* (.*)$")
    string(APPEND RPM_ENTRY "- ${CMAKE_MATCH_1}\n")
  elseif(line MATCHES "^    (.*)$")
    string(APPEND RPM_ENTRY "  ${CMAKE_MATCH_1}\n")
  elseif(line MATCHES "^ -- (.*)  ([A-Z][a-z][a-z]), ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9]+) ")
    string(APPEND RPM_CHANGELOG
           "* ${CMAKE_MATCH_2} ${CMAKE_MATCH_4} ${CMAKE_MATCH_3} ${CMAKE_MATCH_5} ${CMAKE_MATCH_1} - ${RPM_VERSION}\n"
           "${RPM_ENTRY}\n")
  endif()
endforeach()
string(STRIP "${RPM_CHANGELOG}" RPM_CHANGELOG)
file(WRITE ${PACKAGING_OUT}/rpm-changelog "${RPM_CHANGELOG}\n")
set(CPACK_RPM_CHANGELOG_FILE ${PACKAGING_OUT}/rpm-changelog)
# Folders other packages own.
list(APPEND CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION /usr/share/man /usr/share/man/man1 /usr/share/modulefiles
     /usr/share/doc)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
