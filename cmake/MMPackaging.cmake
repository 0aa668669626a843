# Debian packages of the install: `cpack -G DEB` in the build folder makes
#   libmultimedia0     the shared libraries and the plugins ("runtime")
#   libmultimedia-dev  headers, the CMake package, pkg-config files ("dev")
#   mmtool             the command-line tool ("mmtool")
#   python3-multimedia the Python module, when it is built ("python")
# Their dependencies on Debian's libraries come from dpkg-shlibdeps; those
# between the three packages, and what the development files need at build
# time, are stated here.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME multimedia)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "multimedia developers")
set(CPACK_PACKAGE_CONTACT "multimedia developers <multimedia@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "video and audio file input/output libraries")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_COMPONENTS_ALL runtime dev mmtool)
if(TARGET multimedia)
  list(APPEND CPACK_COMPONENTS_ALL python)
endif()
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)

set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Our own libraries belong to no installed package: dpkg-shlibdeps finds them
# in the build tree, and the component dependencies below name their package.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
  "AVI/OpenDML library, GStreamer frame reader, reader plugins and converters")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libmultimedia0)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# The GStreamer reader builds a playbin pipeline (plugins-base); the formats
# it decodes come with the other plugin sets.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "gstreamer1.0-plugins-base")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_RECOMMENDS "gstreamer1.0-plugins-good, gstreamer1.0-libav")

set(CPACK_COMPONENT_DEV_DESCRIPTION
  "headers, CMake package (find_package(multimedia)) and pkg-config files of the multimedia libraries")
set(CPACK_COMPONENT_DEV_DEPENDS runtime)
set(CPACK_DEBIAN_DEV_PACKAGE_NAME libmultimedia-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
# What the headers include (Boost, libjpeg) and multimediaConfig.cmake looks for.
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libboost-dev (>= 1.74), libjpeg-dev, pkg-config | pkgconf")

set(CPACK_COMPONENT_MMTOOL_DESCRIPTION
  "mmtool: reads, describes and converts video files through the multimedia libraries")
set(CPACK_COMPONENT_MMTOOL_DEPENDS runtime)
set(CPACK_DEBIAN_MMTOOL_PACKAGE_NAME mmtool)
set(CPACK_DEBIAN_MMTOOL_PACKAGE_SECTION video)

set(CPACK_COMPONENT_PYTHON_DESCRIPTION
  "Python 3 module multimedia: video frames read into NumPy arrays without a copy, AVI files read and written")
set(CPACK_COMPONENT_PYTHON_DEPENDS runtime)
set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-multimedia)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
# The module is built for one Python version (its file name says which).
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
  "python3 (>= ${MM_PYTHON_VERSION}), python3 (<< ${MM_PYTHON_VERSION_MAJOR}.${MM_PYTHON_NEXT_MINOR}), python3-numpy")

include(CPack)
