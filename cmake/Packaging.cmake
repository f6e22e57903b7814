# SPDX-License-Identifier: MIT
# The Debian package (`cpack -G DEB`, see scripts/package). Its version is the
# project's; its dependencies come from the shared libraries the installed
# executable links (dpkg-shlibdeps), so they follow the code, not a hand-kept list.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME varno)
set(CPACK_PACKAGE_VENDOR Varno)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${VARNO_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "token leaderboard for AI coding agents, in the tray")
# Lines of at most 79 characters: dpkg adds a space in front of each.
set(CPACK_PACKAGE_DESCRIPTION
    "Varno reads your daily token totals of Codex and Claude Code through\n"
    "CodexBar's command-line tool, uploads them to the Varno server while you are\n"
    "signed in with GitHub, and shows a 30-day leaderboard of you and your friends\n"
    "in a panel under its tray icon, with friend requests and an invite link.\n"
    "On machines without a desktop it signs in from a terminal and syncs as a\n"
    "systemd user service (varno.service, running varno --headless).")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Stripped as Debian's own tools do it, without the compiler's .comment and .note
# sections, once cpack has installed the files into its staging folder.
set(CPACK_STRIP_FILES OFF)
set(CPACK_VARNO_STRIP "${CMAKE_STRIP}")
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/StripPackagedPrograms.cmake)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${VarnoWebsiteURL}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Not linked, but used at run time: xdg-mime for `varno --register-url-handler`;
# the emoji font for the leaderboard's medals; for the session, a Secret Service
# (org.freedesktop.secrets: GNOME's keyring, KeePassXC, or KDE's wallet, which
# QtKeychain also reaches directly) and libsecret, which QtKeychain loads at run
# time to talk to it; the Wayland plugin for sessions without XWayland.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "xdg-utils, fonts-noto-color-emoji, libsecret-1-0, gnome-keyring | keepassxc | libkf5wallet-bin, qt6-wayland")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
