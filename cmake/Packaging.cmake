# The Debian package (bash scripts/package.sh): CPack's DEB generator over the install rules,
# with the dependencies computed by dpkg-shlibdeps from the programs' shared libraries.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME oxlip)
set(CPACK_PACKAGE_VENDOR "Oxlip developers")
set(CPACK_PACKAGE_CONTACT "Oxlip developers <support@oxlip.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "FTP client with two panes and a Japanese interface")
# One line of the package's long description each (Debian wants lines under 80 characters).
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "Oxlip shows a local folder and a folder on an FTP server side by side and"
    "moves files and whole folder trees between them in ASCII, binary or"
    "automatic mode. It deletes, renames and creates folders on the server,"
    "changes permissions with SITE CHMOD and keeps one connection profile per"
    "server. The window's texts are in Japanese."
    "."
    "The package also holds oxlip-ftp, a command-line driver of the same FTP"
    "engine.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://oxlip.example.org/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The Japanese font the window asks for, Qt's own Japanese texts (standard buttons), and Qt's
# Wayland platform for Wayland desktops.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-ipafont-gothic, qt6-translations-l10n, qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

include(CPack)
