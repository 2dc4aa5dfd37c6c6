# The Debian package, built by CPack from what `cmake --install` installs:
#   cd <build> && cpack -G DEB
# Its dependencies on shared libraries come from dpkg-shlibdeps; the image plugins are not
# linked but read TIFF pictures, and Qt's own German texts are only recommended.

# Debian looks for these in a folder named after the package.
set(peltrix_doc_folder ${CMAKE_INSTALL_DATAROOTDIR}/doc/peltrix)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright DESTINATION ${peltrix_doc_folder})
# Compressed without a time stamp, so the package is reproducible.
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog changelog COPYONLY)
set(peltrix_changelog ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${peltrix_changelog}
  COMMAND gzip -9 -n -f -k changelog
  DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/changelog)
add_custom_target(peltrix_changelog ALL DEPENDS ${peltrix_changelog})
install(FILES ${peltrix_changelog} DESTINATION ${peltrix_doc_folder})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME peltrix)
set(CPACK_PACKAGE_VENDOR "Trevalon software")
set(CPACK_PACKAGE_CONTACT "Trevalon software <packages@peltrix.example>")
set(CPACK_PACKAGE_HOMEPAGE_URL https://peltrix.example/)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "cut an object out of a photo")
set(CPACK_PACKAGE_DESCRIPTION
  "Peltrix Pro cuts an object out of a photograph and puts it on a new
background. Paint a few rough green strokes on the object and red strokes on
the background, and the program decides for every pixel whether it belongs to
the object. The result is exported as JPEG or PNG at any size. peltrix-cut
runs the same cut from the command line.")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-image-formats-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
