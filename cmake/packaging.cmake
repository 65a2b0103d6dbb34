# What `cmake --install` puts where, and the packages that scripts/package makes of it with CPack:
# on Linux kvx-tools_<version>_amd64.deb (the tools, libtarvo.so, tarvo.h, the man pages, the ids
# of USB instruments and their udev rule), on
# Windows KVX-300-<version>-win64.zip (the program, tarvo.dll, the three tools and the operator's
# guide in Japanese), both from the version set at the top of CMakeLists.txt. scripts/make-msi
# makes the Windows installer of the same files, as installed here.
include(GNUInstallDirs)

set(CPACK_PACKAGE_NAME kvx-tools)
set(CPACK_PACKAGE_VENDOR "KVX-300 developers")
set(CPACK_PACKAGE_CONTACT "KVX-300 developers <kvx300@example.com>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "download tools for the KVX-300 temperature data loggers")
set(CPACK_PACKAGE_DESCRIPTION
    "kvx-transfer downloads what a KVX-300 logging instrument has recorded, over\n\
its USB link, and stores it as CSV files in code page 932, as the KVX-300\n\
program for Windows does; kvx-convert turns a kept download into CSV files\n\
again; kvx-chart draws the CSV files as SVG charts; kvx-emulator plays an\n\
instrument for trying the tools without one; tarvo-link checks the link and\n\
lists the USB devices attached. The tarvo library (libtarvo.so, tarvo.h) is\n\
the USB link they talk through: an instrument plugged in by USB is used\n\
directly, through libusb, once its ids are in /etc/tarvo/usb-ids, which a\n\
udev rule also gives to the logged-in user.")
set(CPACK_STRIP_FILES ON)

if(KVX_PLATFORM STREQUAL "win32")
  # A folder to unpack anywhere and start KVX-300.exe from: no installer, no administrator rights.
  install(TARGETS KVX-300 tarvo kvx-transfer kvx-convert kvx-chart RUNTIME DESTINATION .)
  # The guide as Notepad on a Japanese Windows reads it: UTF-8 with a byte order mark, CR LF.
  set(guide ${PROJECT_BINARY_DIR}/package-files/KVX-300-guide-ja.txt)
  configure_file(${PROJECT_SOURCE_DIR}/docs/operator-guide-ja.txt ${guide}.lf @ONLY)
  file(READ ${guide}.lf guide_text)
  string(REPLACE "\n" "\r\n" guide_text "${guide_text}")
  string(ASCII 239 187 191 byte_order_mark)
  file(WRITE ${guide} "${byte_order_mark}${guide_text}")
  install(FILES ${guide} DESTINATION .)

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME KVX-300-${PROJECT_VERSION}-win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  install(TARGETS kvx-transfer kvx-convert kvx-emulator kvx-chart tarvo-link
          RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # USB instruments: the ids the user names (a conffile, empty but for its comments), and the
  # udev rule that gives the logged-in user the devices named there.
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/usb-ids
          DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/tarvo)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/70-tarvo.rules DESTINATION lib/udev/rules.d)
  # A shared library is not executable (Debian's policy).
  install(TARGETS tarvo LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
          PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  install(FILES ${PROJECT_SOURCE_DIR}/lib/include/tarvo.h
          DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  # The tools find it as ../share/locale from their folder.
  install(FILES ${KVX_TOOLS_MO} DESTINATION ${CMAKE_INSTALL_DATADIR}/locale/ja/LC_MESSAGES)

  # The man pages, made from each tool's --help and --version by help2man, with the examples
  # and the pages to see also of packaging/man/, where help2man is there and the tools can run
  # on this machine (not in a sanitizer build).
  find_program(HELP2MAN help2man)
  if(HELP2MAN AND NOT CMAKE_CROSSCOMPILING AND KVX_SANITIZE STREQUAL "")
    set(man_kvx-transfer "download a KVX-300 instrument's readings into CSV files")
    set(man_kvx-convert "convert a kept KVX-300 download into CSV files")
    set(man_kvx-emulator "play a KVX-300 instrument and its USB driver")
    set(man_kvx-chart "draw KVX-300 CSV files as SVG charts")
    set(man_tarvo-link "check the link to a KVX-300 instrument, and list USB devices")
    set(pages)
    foreach(tool kvx-transfer kvx-convert kvx-emulator kvx-chart tarvo-link)
      set(page ${PROJECT_BINARY_DIR}/man/${tool}.1)
      add_custom_command(OUTPUT ${page}.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
        COMMAND ${HELP2MAN} --no-info --section=1 --locale=C.UTF-8 --name=${man_${tool}}
                --include=${PROJECT_SOURCE_DIR}/packaging/man/${tool}.h2m --output=${page}
                "${PROJECT_SOURCE_DIR}/cmake/help-for-man $<TARGET_FILE:${tool}>"
        COMMAND gzip -9nf ${page}
        DEPENDS ${tool} ${PROJECT_SOURCE_DIR}/cmake/help-for-man
                ${PROJECT_SOURCE_DIR}/packaging/man/${tool}.h2m
        COMMENT "Man page of ${tool}"
        VERBATIM)
      list(APPEND pages ${page}.gz)
    endforeach()
    add_custom_target(man_pages ALL DEPENDS ${pages})
    install(FILES ${pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()

  # What Debian asks of every package: its copyright and its changelog, compressed.
  set(doc ${PROJECT_BINARY_DIR}/package-files)
  set(docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_PACKAGE_NAME})
  configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog ${doc}/changelog @ONLY)
  execute_process(COMMAND gzip -9nc ${doc}/changelog OUTPUT_FILE ${doc}/changelog.gz
                  COMMAND_ERROR_IS_FATAL ANY)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${doc}/changelog.gz
          DESTINATION ${docdir})

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # kvx-tools_<version>_amd64.deb
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://kvx300.example.com/")
  # The dependencies are those of the binaries, found by dpkg-shlibdeps. The package's own library
  # is declared for others to depend on (shlibs), and dpkg's ldconfig trigger refreshes the
  # dynamic linker's cache (CPack's maintainer scripts call ldconfig as well).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/triggers
                                         ${PROJECT_SOURCE_DIR}/packaging/conffiles)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

include(CPack)
