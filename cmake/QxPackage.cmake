# `cpack -G DEB` in the build folder: a Debian package of everything `cmake --install` puts under
# /usr. Its dependencies come from the shared libraries the programs link (dpkg-shlibdeps); the
# menu, icon and manual caches are refreshed by the triggers of the packages that own them.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qxmoviedisc)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The QX Movie Disc developers")
set(CPACK_PACKAGE_CONTACT "The QX Movie Disc developers <developers@qxmoviedisc.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "turn movies into a DVD-Video disc")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "QX Movie Disc converts movies (RealMedia .rm and .rmvb, and whatever else\n"
    "FFmpeg reads: MP4, Matroska, AVI, ...) into DVD MPEG-2 streams, writes a\n"
    "VIDEO_TS folder with one title per movie, a chapter every five minutes and\n"
    "an optional menu, and burns it to a DVD or writes its disc image. It also\n"
    "burns existing DVD folders, shows a writer's details and erases rewritable\n"
    "discs. qxmoviedisc-cli makes the same discs without a window; qxauthor authors\n"
    "a folder from DVD program streams, and qxmkdvdiso writes the disc image (.iso)\n"
    "of a folder.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://qxmoviedisc.example.org/)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Not linked, but used: Wayland's and the off-screen platform plugins, the sample movie of --demo,
# the web browser for the Home button and the help page, a font for the menu's text.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-qpa-plugins, ffmpeg, xdg-utils, fonts-dejavu-core")
include(CPack)
