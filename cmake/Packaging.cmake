# What ships, and how: install rules for the released programs only (never
# the tests, the simulated build or the build tools), and CPack's settings.
# The windows preset packs a zip of both programs; the linux preset a Debian
# package of the command-line flasher, its run-time libraries found by
# dpkg-shlibdeps. `cpack --preset windows|linux` after a build makes them. A
# build that carries the development image (KF_DEVELOPMENT_IMAGE) says so in
# the package's name.
set(CPACK_PACKAGE_NAME kelmora-flasher)
set(CPACK_PACKAGE_VENDOR "the Kelmora Flasher authors")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Puts new firmware into the Tarvonic synthesizer over MIDI")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)

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
  if(KF_DEVELOPMENT_IMAGE)
    string(APPEND KF_DEB_VERSION "~development.image")
  endif()
  install(TARGETS kelmora-flash RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  set(doc ${CMAKE_INSTALL_DATAROOTDIR}/doc/kelmora-flash)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${doc})
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${doc} RENAME copyright)
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_PACKAGE_NAME kelmora-flash)
  set(CPACK_DEBIAN_PACKAGE_VERSION ${KF_DEB_VERSION})
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "the Kelmora Flasher authors")
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
