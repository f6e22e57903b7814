# The Debian package (`cpack -G DEB`, see scripts/package). Its version is the
# project's; its dependencies come from the shared libraries the installed
# executable links (dpkg-shlibdeps), so they follow the code, not a hand-kept list.
set(VARNO_PACKAGE_MAINTAINER "Varno developers <packages@varno.app>" CACHE STRING
    "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME varno)
set(CPACK_PACKAGE_VENDOR Varno)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${VARNO_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "token leaderboard for AI coding agents, in the tray")
set(CPACK_PACKAGE_DESCRIPTION
    "Varno reads your daily token totals of Codex and Claude Code through CodexBar's\n"
    "command-line tool, uploads them to the Varno server while you are signed in with\n"
    "GitHub, and shows a 30-day leaderboard of you and your friends in a panel under\n"
    "its tray icon, with friend requests and an invite link.\n"
    "On machines without a desktop it signs in from a terminal and syncs as a systemd\n"
    "user service (varno.service, running varno --headless).")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${VarnoWebsiteURL}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Not linked, but used at run time: xdg-mime for `varno --register-url-handler`,
# the emoji font for the leaderboard's medals.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, fonts-noto-color-emoji")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
