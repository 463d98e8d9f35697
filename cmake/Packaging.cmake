# `cpack -G DEB` in a build tree makes zulftp_<version>_<arch>.deb from the install rules:
# the program, its help file, the desktop entry and the icon under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zulftp)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "ZUL-FTP developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "two-pane desktop FTP client")
set(CPACK_PACKAGE_DESCRIPTION
    "The local computer on the left, one FTP server on the right: browse both, move files and
whole folders between them, rename, delete and create folders, keep site profiles.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "ZUL-FTP developers <maintainers@zulftp.invalid>")
# The libraries the program links are found by dpkg-shlibdeps; the SVG plug-ins that draw
# the icons are loaded at run time, so their package is named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6, openssh-client") # SFTP runs the ssh client
# The keyring library reaches a Secret Service (GNOME's keyring and others) through libsecret,
# which it loads at run time, out of dpkg-shlibdeps' sight.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libsecret-1-0")
include(CPack)
