# What ships, and how: install rules for the released programs only (never
# the tests, the simulated build or the build tools), and CPack's settings.
# The windows preset packs a zip of both programs; the linux preset a Debian
# package of the command-line flasher, its run-time libraries found by
# dpkg-shlibdeps. `cpack --preset windows|linux` after a build makes them,
# each with a SHA256SUMS file beside it. A build that carries the
# development image (KF_DEVELOPMENT_IMAGE) says so in the package's name.
set(CPACK_PACKAGE_NAME kelmora-flasher)
set(CPACK_PACKAGE_VENDOR "the Kelmora Flasher authors")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Puts new firmware into the Tarvonic synthesizer over MIDI")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/package_checksums.cmake)
set(KF_MAINTAINER "Kelmora Flasher authors <maintainers@kelmora-flasher.example>")

if(WIN32)
  # Everything in one folder: unzip and start kelmora-flasher.exe.
  install(TARGETS kelmora-flasher RUNTIME DESTINATION .)
  if(TARGET kelmora-flash)
    install(TARGETS kelmora-flash RUNTIME DESTINATION .)
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(zip_name kelmora-flasher-${PROJECT_VERSION})
  if(KF_DEVELOPMENT_IMAGE)
    string(APPEND zip_name -development-image)
  endif()
  set(CPACK_PACKAGE_FILE_NAME ${zip_name}-win64)  # also the folder inside
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
elseif(TARGET kelmora-flash)
  include(GNUInstallDirs)
  # Debian's version, and so the file name, of a development-image build:
  # "~" sorts it before the release of the same version, which replaces it.
  set(KF_DEB_VERSION ${PROJECT_VERSION})
  set(KF_DEB_CHANGELOG_NOTE "")
  if(KF_DEVELOPMENT_IMAGE)
    string(APPEND KF_DEB_VERSION "~development.image")
    string(CONCAT KF_DEB_CHANGELOG_NOTE "\n  * Built with the development image: test data, not firmware. It goes to\n"
           "    an instrument on real MIDI ports only with --allow-development-image.")
  endif()
  # The manual page and the changelog, compressed as Debian wants them
  # (gzip -9, no name or time stamp inside, so that builds are reproducible).
  set(debian ${CMAKE_CURRENT_BINARY_DIR}/debian)
  configure_file(${PROJECT_SOURCE_DIR}/cli/kelmora-flash.1 ${debian}/kelmora-flash.1 @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/changelog.in ${debian}/changelog @ONLY)
  foreach(file kelmora-flash.1 changelog)
    add_custom_command(OUTPUT ${debian}/${file}.gz
      COMMAND gzip -9nkf ${debian}/${file}
      DEPENDS ${debian}/${file}
      VERBATIM)
  endforeach()
  add_custom_target(kf_debian_files ALL DEPENDS ${debian}/kelmora-flash.1.gz ${debian}/changelog.gz)
  add_dependencies(kelmora-flash kf_debian_files)

  install(TARGETS kelmora-flash RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${debian}/kelmora-flash.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  set(doc ${CMAKE_INSTALL_DATAROOTDIR}/doc/kelmora-flash)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${debian}/changelog.gz
                ${PROJECT_SOURCE_DIR}/cmake/debian/copyright DESTINATION ${doc})
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_PACKAGE_NAME kelmora-flash)
  set(CPACK_DEBIAN_PACKAGE_VERSION ${KF_DEB_VERSION})
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${KF_MAINTAINER})
  set(CPACK_DEBIAN_PACKAGE_SECTION sound)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "command-line firmware flasher for the Tarvonic synthesizer")
  string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
         "Puts new firmware into the Tarvonic over MIDI (ALSA sequencer or JACK).\n"
         "The firmware travels inside the program; --virtual tries it on a\n"
         "built-in virtual instrument.")
  # The run-time libraries (RtMidi, ALSA, JACK, the C++ library), with the
  # versions this build needs, from the packages that provide them.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

include(CPack)
