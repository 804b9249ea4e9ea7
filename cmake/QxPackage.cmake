# `cpack -G DEB` in the build folder: a Debian package of everything `cmake --install` puts under
# /usr. Its dependencies come from the shared libraries the programs link (dpkg-shlibdeps); the
# menu, icon and manual caches are refreshed by the triggers of the packages that own them.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qxmoviedisc)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The QX Movie Disc developers")
set(CPACK_PACKAGE_CONTACT "The QX Movie Disc developers <developers@qxmoviedisc.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "turn RealMedia movies into a DVD-Video disc")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "QX Movie Disc converts RealMedia movies (.rm, .rmvb) into DVD MPEG-2 streams,\n"
    "writes a VIDEO_TS folder with one title per movie and a chapter every five\n"
    "minutes, and burns it to a DVD. It also burns existing DVD folders, shows a\n"
    "writer's details and erases rewritable discs. qxmoviedisc-cli makes the same\n"
    "folders without a window; qxauthor authors a folder from DVD program streams,\n"
    "and qxmkdvdiso writes the disc image (.iso) of a folder.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://qxmoviedisc.example.org/)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Not linked, but used: Wayland's platform plugin, the sample movie of --demo, the web browser for
# the Home button and the help page.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-qpa-plugins, ffmpeg, xdg-utils")
include(CPack)
