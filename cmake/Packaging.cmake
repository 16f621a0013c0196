# What `cmake --install` (and so `make install`) lays out, and the Debian package made from it.
include(GNUInstallDirs)

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# The manual pages carry the version of project(); Debian wants them and the changelog compressed
# with -9, and -n keeps the file's own name and time out so that the package comes out the same.
set(qf_doc_out ${CMAKE_BINARY_DIR}/share)
set(qf_gz_files)
foreach(page quenfell.1 quenfell-plot.1 quenfell-db.1)
  configure_file(${PROJECT_SOURCE_DIR}/docs/${page} ${qf_doc_out}/man/${page} @ONLY)
  list(APPEND qf_gz_files ${qf_doc_out}/man/${page})
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/docs/changelog ${qf_doc_out}/doc/changelog COPYONLY)
list(APPEND qf_gz_files ${qf_doc_out}/doc/changelog)

# The changelog is written by hand; its newest entry has to be the version that is built.
file(STRINGS ${PROJECT_SOURCE_DIR}/docs/changelog qf_changelog_head LIMIT_COUNT 1)
if(NOT qf_changelog_head MATCHES "^quenfell \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "docs/changelog begins with '${qf_changelog_head}': "
                      "add an entry for version ${PROJECT_VERSION} at its top")
endif()

set(qf_gz_outputs)
foreach(file ${qf_gz_files})
  add_custom_command(OUTPUT ${file}.gz
    COMMAND gzip -9 -n -c ${file} > ${file}.gz
    DEPENDS ${file}
    VERBATIM)
  list(APPEND qf_gz_outputs ${file}.gz)
endforeach()
add_custom_target(qf_compressed_docs ALL DEPENDS ${qf_gz_outputs})

install(TARGETS quenfell quenfell-plot quenfell-db RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${qf_doc_out}/man/quenfell.1.gz ${qf_doc_out}/man/quenfell-plot.1.gz ${qf_doc_out}/man/quenfell-db.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/docs/quenfell.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME quenfell)
install(FILES ${PROJECT_SOURCE_DIR}/docs/quenfell.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME quenfell-plot)
install(FILES ${PROJECT_SOURCE_DIR}/docs/quenfell-db.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME quenfell-db)
install(FILES ${PROJECT_SOURCE_DIR}/docs/copyright ${qf_doc_out}/doc/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The version has no Debian revision, so the package is a native one: its changelog is changelog.gz.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quenfell)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Quenfell maintainers <maintainers@users.noreply.c-seed-05a415ec.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "reader of an electric car's vehicle management log")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Quenfell reads the binary log that the Vehicle Management System of an\n"
    "electric car keeps of its life (drives, charging, idle and daily battery\n"
    "status, tyres, errors) and turns it into plain-text reports: drives and\n"
    "charges, record listings for a spreadsheet, a battery study over years of\n"
    "downloads, and joined logs. quenfell-plot draws the car's logs (drives,\n"
    "charges, efficiency, battery, events), or the battery study, as one\n"
    "self-contained HTML page of charts. quenfell-db keeps the car's whole\n"
    "history in one SQLite database file, each download added once.")
string(JOIN "" CPACK_DEBIAN_PACKAGE_DESCRIPTION ${CPACK_DEBIAN_PACKAGE_DESCRIPTION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
