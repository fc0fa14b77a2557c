# The Debian package: the bundle under /opt/tarnhollow, its menu entry, icon
# and polkit action; install component `deb` (packaging/CMakeLists.txt).
set(debian "${PROJECT_SOURCE_DIR}/packaging/debian")
set(icons "${PROJECT_SOURCE_DIR}/packaging/icons")
set(installed_bundle opt/tarnhollow/Tarnhollow.app) # LinuxSystem::installedBundle

install(DIRECTORY "${TARNHOLLOW_BUNDLE}" DESTINATION opt/tarnhollow USE_SOURCE_PERMISSIONS COMPONENT deb)
# Debian ships programs without their debugging sections.
tarnhollow_strip_bundle("${installed_bundle}" deb "")

install(FILES "${debian}/tarnhollow.desktop" DESTINATION usr/share/applications COMPONENT deb)
install(FILES "${icons}/tarnhollow.svg" DESTINATION usr/share/icons/hicolor/scalable/apps COMPONENT deb)
foreach(size 16 32 48 64 128 256 512)
  install(FILES "${icons}/png/tarnhollow-${size}.png" DESTINATION usr/share/icons/hicolor/${size}x${size}/apps
          RENAME tarnhollow.png COMPONENT deb)
endforeach()
install(FILES "${debian}/org.tarnhollow.collect.policy" DESTINATION usr/share/polkit-1/actions COMPONENT deb)
install(FILES "${debian}/copyright" DESTINATION usr/share/doc/tarnhollow COMPONENT deb)
install(FILES "${debian}/lintian-overrides" DESTINATION usr/share/lintian/overrides RENAME tarnhollow COMPONENT deb)

# The changelog, compressed as Debian wants it: no name, no time stamp.
configure_file("${debian}/changelog.in" "${CMAKE_CURRENT_BINARY_DIR}/changelog" @ONLY)
add_custom_command(OUTPUT "${CMAKE_CURRENT_BINARY_DIR}/changelog.gz"
  COMMAND gzip -9nf -k "${CMAKE_CURRENT_BINARY_DIR}/changelog"
  DEPENDS "${CMAKE_CURRENT_BINARY_DIR}/changelog"
  VERBATIM)
add_custom_target(debian_changelog ALL DEPENDS "${CMAKE_CURRENT_BINARY_DIR}/changelog.gz")
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/changelog.gz" DESTINATION usr/share/doc/tarnhollow COMPONENT deb)

set(CPACK_DEBIAN_PACKAGE_NAME tarnhollow)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # tarnhollow_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Tarnhollow developers <tarnhollow@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The first line, the summary, is CPACK_PACKAGE_DESCRIPTION_SUMMARY as
# CPackPerGenerator.cmake sets it for the .deb.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "One window with one button: the responder presses it and types an
administrator password, and the bundled collector copies system identity,
users, logs, persistence, shell histories, network settings and more into
one zip archive with a manifest of SHA-256 hashes. The installed copy
cannot write beside itself, so the archive goes to the user's desktop
folder (the home folder when there is none); the portable kit writes
beside itself instead.")
# The libraries follow from the programs; the rest nothing links: the
# password dialog's runner, the file manager's opener and a Japanese font.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "pkexec, xdg-utils, fonts-ipaexfont-gothic | fonts-japanese-gothic")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
