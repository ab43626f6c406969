# Debian's libqwt-qt5-dev: the pkg-config file needs Qt5Svg, so look for the
# header and library directly.
find_path(QWT_INCLUDE_DIR qwt_plot.h PATHS /usr/include/qwt /usr/include/qwt-qt5 PATH_SUFFIXES qwt)
find_library(QWT_LIBRARY NAMES qwt-qt5 qwt)
if(NOT QWT_INCLUDE_DIR OR NOT QWT_LIBRARY)
  message(FATAL_ERROR "Qwt 6.1 for Qt 5 not found (Debian: libqwt-qt5-dev)")
endif()
add_library(Qwt::Qwt UNKNOWN IMPORTED)
set_target_properties(Qwt::Qwt PROPERTIES
  IMPORTED_LOCATION ${QWT_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${QWT_INCLUDE_DIR}
  INTERFACE_LINK_LIBRARIES "Qt5::Widgets")
