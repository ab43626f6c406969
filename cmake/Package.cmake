# The Debian package (CPack), made of what cmake/Install.cmake installs;
# scripts/build-deb.sh builds it. Its dependencies come from the libraries
# the programs link (dpkg-shlibdeps), never from a list kept by hand.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${QUENVIA_PACKAGE})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Velmarsk)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "delay measurement for wireless screen-mirroring chains")
# Lines of at most 80 characters, paragraphs parted by ".".
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "A bench tool that measures the delays along a wireless screen-mirroring"
  "chain: video source, radio link, receiving sink. It remote-controls an"
  "oscilloscope, a spectrum analyzer in zero-span mode and, optionally, a video"
  "analyzer over VISA (raw SCPI sockets and VXI-11), takes a number of"
  "acquisitions and reports the Source to RF, Source to HDMI and Source to Sink"
  "delays with their spread."
  "."
  "It measures from its window or from the command line (for CI, with limits"
  "that set the exit status). The simulated bench quenvia-benchsim plays the"
  "three instruments with known delays.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${QUENVIA_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${QUENVIA_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
