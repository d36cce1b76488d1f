# What an installation holds beside the programs and the demo drives (desktop entry, icons,
# AppStream metainfo, manual pages, the Debian documents), and the .deb made by `cpack -G DEB`.
if(NOT UNIX OR APPLE)
  return()
endif()

set(DISKVIGIL_APP_ID "org.diskvigil.Diskvigil")
set(DISKVIGIL_DEB_VERSION "${PROJECT_VERSION}-1")
set(DISKVIGIL_DEB_MAINTAINER "Diskvigil developers <diskvigil@example.org>")
set(packaging "${PROJECT_SOURCE_DIR}/packaging")
set(generated "${PROJECT_BINARY_DIR}/packaging")

install(FILES "${packaging}/${DISKVIGIL_APP_ID}.desktop"
  DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
configure_file("${packaging}/${DISKVIGIL_APP_ID}.metainfo.xml"
  "${generated}/${DISKVIGIL_APP_ID}.metainfo.xml" @ONLY)
install(FILES "${generated}/${DISKVIGIL_APP_ID}.metainfo.xml"
  DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")

install(FILES "${packaging}/icons/diskvigil.svg"
  DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps"
  RENAME "${DISKVIGIL_APP_ID}.svg")
foreach(size 16 22 24 32 48 64 128 256)
  install(FILES "${packaging}/icons/diskvigil-${size}.png"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps"
    RENAME "${DISKVIGIL_APP_ID}.png")
endforeach()

# Manual pages and the Debian changelog are installed compressed, as Debian wants them; gzip -n
# keeps the result the same from build to build.
set(compressed_files)
foreach(page diskvigil diskvigil-cli)
  configure_file("${packaging}/${page}.1" "${generated}/${page}.1" @ONLY)
  list(APPEND compressed_files "${generated}/${page}.1")
endforeach()
configure_file("${packaging}/changelog.Debian.in" "${generated}/changelog.Debian" @ONLY)
list(APPEND compressed_files "${generated}/changelog.Debian")
set(compressed_outputs)
foreach(file ${compressed_files})
  add_custom_command(OUTPUT "${file}.gz"
    COMMAND gzip -9nfk "${file}"
    DEPENDS "${file}"
    COMMENT "Compressing ${file}")
  list(APPEND compressed_outputs "${file}.gz")
endforeach()
add_custom_target(diskvigil_package_files ALL DEPENDS ${compressed_outputs})
install(FILES "${generated}/diskvigil.1.gz" "${generated}/diskvigil-cli.1.gz"
  DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
set(doc_dir "${CMAKE_INSTALL_DATADIR}/doc/diskvigil")
install(FILES "${generated}/changelog.Debian.gz" "${packaging}/copyright"
  "${packaging}/README.Debian" DESTINATION "${doc_dir}")

install(FILES "${packaging}/lintian-overrides" DESTINATION "${CMAKE_INSTALL_DATADIR}/lintian/overrides"
  RENAME diskvigil)

# The headless monitor's unit, installed but not enabled; prerm stops and disables it on removal,
# postrm removes its links and state on purge.
install(FILES "${packaging}/diskvigil-monitor.service" DESTINATION "lib/systemd/system")

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "diskvigil")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "The Diskvigil developers")
set(CPACK_PACKAGE_CONTACT "${DISKVIGIL_DEB_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "disk health and temperature monitor for the tray")
# CPack puts the summary above this as the synopsis line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Diskvigil watches the S.M.A.R.T. health of the computer's ATA disks and
shows each disk's temperature as a small icon in the notification area,
framed green while the disk passes its own check and red when it fails.
It warns with a sound, a balloon and a mail, shows the attribute table,
writes text reports, sets the AAM and APM levels and shows the partition
table read-only. It never writes to a disk's sectors.

Only the small drive helper /usr/libexec/diskvigil/diskvigil-drive-helper
gets the cap_sys_rawio capability; the programs hold none and ask the
helper for each drive command. Users who watch their drives must be in
the disk group (see /usr/share/doc/diskvigil/README.Debian).")
set(CPACK_DEBIAN_FILE_NAME "DEB-DEFAULT")
set(CPACK_DEBIAN_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_DEBIAN_PACKAGE_RELEASE "1")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${DISKVIGIL_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION "admin")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# The libraries come from dpkg-shlibdeps; setcap and getcap are what postinst needs.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libsqlite3 is opened at run time with the first use of the history, so shlibdeps cannot see it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcap2-bin, libsqlite3-0")
# The alert sound opens libpulse-simple.so.0 at its first alert (no library: a silent alert), so
# shlibdeps cannot see it.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libpulse0")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${packaging}/postinst" "${packaging}/prerm"
  "${packaging}/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
