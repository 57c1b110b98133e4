# The Debian package that tools/package builds with CPack:
# build/release/kestrom_<version>_<arch>.deb, holding what `cmake --install` installs.
# The Maintainer field names who answers for the package, and signs its
# changelog. The default is the project's developers at an address that reaches
# no one (example.org is reserved for examples): whoever builds a package to hand
# out sets their own, cmake --preset release -DKESTROM_MAINTAINER="Name <address>".
set(KESTROM_MAINTAINER "Kestrom developers <kestrom@example.org>"
    CACHE STRING "The package's Maintainer field, and the signer of its changelog")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrom)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${KESTROM_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "copy the tags of library MP3 files into new files of the same name")
set(CPACK_PACKAGE_DESCRIPTION [[
Kestrom copies the tags of the MP3 files kept in a music library folder tree
into the MP3 files of the same name that wait in a work folder: title, artist,
album, year, comment and genre. A work file with the karaoke suffix
(Song_K.mp3) takes the tag of Song.mp3 and is marked as karaoke. Optionally
each tagged file moves, with its .txt companion, into the library folder
where its match was found.

The package holds the windowed program, kestrom (its texts are in Japanese),
and kestrom-cli, the same run for scripts and servers without a display.]])
# The libraries the binaries link, found by dpkg-shlibdeps; the windows' labels
# need a Japanese gothic face, which no library pulls in.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-ipafont-gothic")
# Debian ships binaries without their debugging information, and control files
# with the permissions it expects.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
