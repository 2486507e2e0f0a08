# What a desktop needs beside the programs (the desktop entry, the icons in the hicolor sizes, the
# AppStream metadata, the window's manual page, the copyright and changelog), and the Debian
# package that CPack makes of the whole installation (scripts/package.sh). For Windows, the NSIS
# script of the installer, with this version in it.
include(GNUInstallDirs)
set(packaging ${PROJECT_SOURCE_DIR}/packaging)

if(WIN32)
  configure_file(${packaging}/windows/velomi.nsi.in ${PROJECT_BINARY_DIR}/velomi.nsi @ONLY)
  return()
endif()

configure_file(${packaging}/linux/${VELOMI_APP_ID}.metainfo.xml.in
  ${PROJECT_BINARY_DIR}/packaging/${VELOMI_APP_ID}.metainfo.xml @ONLY)
execute_process(COMMAND date -u -R -d "${VELOMI_RELEASE_DATE} 12:00"
  OUTPUT_VARIABLE VELOMI_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
configure_file(${packaging}/linux/changelog.in ${PROJECT_BINARY_DIR}/packaging/changelog @ONLY)

install(FILES ${packaging}/linux/${VELOMI_APP_ID}.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_BINARY_DIR}/packaging/${VELOMI_APP_ID}.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(DIRECTORY ${packaging}/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
install(FILES ${packaging}/linux/velomi.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
set(docdir ${CMAKE_INSTALL_DATADIR}/doc/velomi)
install(FILES ${packaging}/linux/copyright ${PROJECT_BINARY_DIR}/packaging/changelog
  DESTINATION ${docdir})
# Manual pages and the changelog compressed, as Debian keeps them; this runs after the install
# rules of src/ (velomi-tag's manual page among them).
install(CODE "
  set(root \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
  file(GLOB pages \"\${root}/${CMAKE_INSTALL_MANDIR}/man1/*.1\")
  foreach(f \${pages} \"\${root}/${docdir}/changelog\")
    if(EXISTS \"\${f}\")
      execute_process(COMMAND gzip -n -9 -f \"\${f}\" COMMAND_ERROR_IS_FATAL ANY)
    endif()
  endforeach()
")

# The Debian package: its dependencies on libraries come from the binaries (dpkg-shlibdeps); the
# ones listed here are what the window loads at run time and no binary names:
# Qt's Chinese messages (the standard buttons' 是 / 否 / 确定) and a CJK font.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velomi)
set(CPACK_PACKAGE_VENDOR Velomi)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Velomi <velomi@example.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "MP3 and WMA tag editor and batch renamer for GBK tags")
set(CPACK_PACKAGE_DESCRIPTION
  "VelomiMP3批量更名 shows, edits and batch-renames the tags of MP3 files (the
ID3v1 block, kept in step with the ID3v2 tag) and WMA files, for
Chinese-speaking users whose old tags are GBK text. Every batch shows its plan
first, and every change can be undone, also after the program was closed. The
window is in Simplified Chinese; velomi-tag does the same from a shell.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${PROJECT_HOMEPAGE_URL})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "qt6-translations-l10n, fonts-arphic-uming | fonts-noto-cjk | fonts-wqy-microhei")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-wayland)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/cpack)
include(CPack)
