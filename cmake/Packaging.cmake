# Installing (cmake --install) and the Debian package (cpack -G DEB, scripts/make-deb.sh):
# the station, the simulator and the database maker in bin/, the desktop entry with its icons,
# the login autostart entry and the systemd user unit for the operator to switch on, the README.
include(GNUInstallDirs)

install(TARGETS cellstation cellsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(PROGRAMS scripts/make-station-db.sh DESTINATION ${CMAKE_INSTALL_BINDIR} RENAME cellstation-make-db)
install(FILES packaging/cellstation.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size 16 32 48 64 128 256)
  install(FILES packaging/icons/${size}x${size}/cellstation.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
# Not in /etc/xdg/autostart: that would start the station for every user of the machine.
install(FILES packaging/cellstation-autostart.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/cellstation/autostart RENAME cellstation.desktop)
# systemd looks for user units under <prefix>/lib/systemd/user, whatever the library folder.
install(FILES packaging/cellstation.service DESTINATION lib/systemd/user)
# Alert rules for a site's Prometheus, with the tests that say what fires.
install(FILES packaging/prometheus/cellstation-rules.yml packaging/prometheus/cellstation-rules.test.yml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/cellstation/prometheus)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The manual pages and the changelog go in compressed as Debian wants them: gzip -n keeps the
# files the same from one build to the next.
set(compressed ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${compressed})
foreach(page cellstation cellsim cellstation-make-db)
  set(source ${PROJECT_SOURCE_DIR}/packaging/man/${page}.1)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  execute_process(COMMAND gzip -9n -c ${source} OUTPUT_FILE ${compressed}/${page}.1.gz COMMAND_ERROR_IS_FATAL ANY)
  install(FILES ${compressed}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog)
execute_process(COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/packaging/changelog OUTPUT_FILE ${compressed}/changelog.gz
  COMMAND_ERROR_IS_FATAL ANY)
install(FILES ${compressed}/changelog.gz packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The Modbus register map for integrators to import.
install(FILES docs/modbus-registers.csv DESTINATION ${CMAKE_INSTALL_DOCDIR})
# Every picture the README shows, where the README points (docs/).
install(FILES docs/station.png docs/history.png docs/alarm.png docs/report.png docs/discharge.png docs/trend.png
  docs/compare.png DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME cellstation)
set(CPACK_PACKAGE_VENDOR cellstation)
set(CPACK_PACKAGE_CONTACT "cellstation maintainers <maintainers@users.noreply.c-seed-648c5580.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "monitoring station for a chain of battery-voltage detector units")
# cpack puts the summary above this as the synopsis line.
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Polls up to 99 detector units on one serial line, shows the cell voltages of\n"
  "the selected unit, keeps a rolling 24-hour record in the station database,\n"
  "draws any cell's curve and prints a one-page report through CUPS.\n"
  "Beyond that: line statistics, alarm limits and an event record; discharge\n"
  "tests recorded cell by cell; publishing to an MQTT broker (with Home\n"
  "Assistant discovery); a read-only Modbus TCP server and Prometheus metrics;\n"
  "whole backups of the database. Includes the detector-chain simulator cellsim\n"
  "and cellstation-make-db."
)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_STRIP_FILES ON)
# The libraries the programs link come from dpkg-shlibdeps. Added by hand, as nothing links
# them: the Qt SQLite driver (loaded as a plugin), the fonts the window and the printed pages
# name, the CUPS client library the print dialog reaches through Qt's print plugin, and
# sqlite3 for cellstation-make-db.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite, fonts-noto-cjk, fonts-liberation2, libcups2, sqlite3")
include(CPack)
