# What `cmake --install` (and so the Debian package) puts where: the
# program, its manual page, desktop entry, icons, AppStream metainfo, the
# systemd user unit, the udev rule for the HID boxes and bash completion.
# The system service is the package's own (debian/kavon.service).
include(GNUInstallDirs)

install(TARGETS kavon RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES data/net.tarvelin.kavon.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES data/net.tarvelin.kavon.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES data/net.tarvelin.kavon.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES data/net.tarvelin.kavon-32.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps
        RENAME net.tarvelin.kavon.png)
install(FILES data/bash-completion/kavon DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES data/udev/70-kavon-hid.rules DESTINATION ${CMAKE_INSTALL_PREFIX}/lib/udev/rules.d)
# The user unit starts the installed program, wherever the prefix is.
set(KAVON_BIN ${CMAKE_INSTALL_FULL_BINDIR}/kavon)
configure_file(data/systemd/kavon.service.in ${PROJECT_BINARY_DIR}/kavon-user.service @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/kavon-user.service DESTINATION ${CMAKE_INSTALL_PREFIX}/lib/systemd/user
        RENAME kavon.service)

# The manual page is written in Markdown (docs/man/kavon.1.md) and turned
# into troff by pandoc, when it is there; a build without pandoc installs
# no page rather than failing.
find_program(KAVON_PANDOC pandoc)
if(KAVON_PANDOC)
  configure_file(docs/man/kavon.1.md ${PROJECT_BINARY_DIR}/kavon.1.md @ONLY)
  add_custom_command(
    OUTPUT ${PROJECT_BINARY_DIR}/kavon.1
    COMMAND ${KAVON_PANDOC} -f markdown-smart -s -t man -o ${PROJECT_BINARY_DIR}/kavon.1 ${PROJECT_BINARY_DIR}/kavon.1.md
    DEPENDS ${PROJECT_BINARY_DIR}/kavon.1.md
    COMMENT "kavon.1 from docs/man/kavon.1.md")
  add_custom_target(kavon_manpage ALL DEPENDS ${PROJECT_BINARY_DIR}/kavon.1)
  install(FILES ${PROJECT_BINARY_DIR}/kavon.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
