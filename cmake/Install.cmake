# What `cmake --install` puts where: both programs in bin/, the desktop entry,
# metainfo, icon and man pages (data/), and the documents a Debian package
# carries. cmake/Package.cmake makes the package from the same rules.
include(GNUInstallDirs)

# One name per role: the Debian package, the desktop entry and AppStream id.
set(QUENVIA_PACKAGE quenviacodectiming)
set(QUENVIA_APP_ID com.velmarsk.QuenviaCodecTiming)
set(QUENVIA_SUMMARY "Measure the delays along a wireless screen-mirroring chain")
set(QUENVIA_HOMEPAGE "https://quenvia.example" CACHE STRING
    "Where the project and its docs/ screenshots are published (metainfo, package)")
set(QUENVIA_MAINTAINER "QuenviaCodecTiming maintainers <quenvia@velmarsk.example>" CACHE STRING
    "Who answers for the package (its Maintainer field and changelog)")

install(TARGETS QuenviaCodecTiming quenvia-benchsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(QUENVIA_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/${QUENVIA_PACKAGE})
install(FILES data/copyright DESTINATION ${QUENVIA_DOCDIR})
install(FILES sim/scenarios/demo.json DESTINATION ${QUENVIA_DOCDIR}/examples)

add_subdirectory(data)
