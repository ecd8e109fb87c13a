# The Debian package `framewise` (scripts/package): the window, the command
# line program, the desktop entry, icon, AppStream metainfo and manual pages,
# under /usr. Its dependencies come from the binaries (dpkg-shlibdeps), its
# version from the project's.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME framewise)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Framewise developers")
set(CPACK_PACKAGE_CONTACT "Framewise developers <framewise@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "frame-accurate viewer and player for video files")
set(CPACK_PACKAGE_DESCRIPTION
  "Framewise shows any frame of a video file exactly, pixel for pixel, whether you step to it, jump to it or play through it: AVI, MP4, MOV, 3GP, MKV, WebM, Ogg, MPEG-TS, FLV and whatever else FFmpeg reads. framewise-cli prints a clip's properties and exports frames as BMP or PNG.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # framewise_VERSION_ARCH.deb
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's platform plugins (xcb, wayland) are only recommended by Qt's GUI
# library, yet without one the window cannot open.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
