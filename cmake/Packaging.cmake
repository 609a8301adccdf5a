# The program installed as a desktop application: its menu entry and icon, its AppStream
# metainfo, its manual pages, its documentation and its QGIS plugin, all installed by
# `cmake --install`; and the Debian package of the whole (`cpack -G DEB` in the build folder,
# or scripts/build-deb.sh, which configures the build for it).

# The AppStream component of the program, and the project's web page, which names the
# screenshot's address. Both are the project's to set once it has a home on the web.
set(TESSERA_APPSTREAM_ID org.example.tessera_v2)
set(TESSERA_HOMEPAGE "https://tessera-v2.example.org" CACHE STRING
    "The project's web page (AppStream metainfo, Debian package)")
set(TESSERA_SCREENSHOT_URL "${TESSERA_HOMEPAGE}/docs/main-window.png" CACHE STRING
    "Where docs/main-window.png is published (AppStream metainfo)")
set(TESSERA_RELEASE_DATE 2026-12-09)

set(TESSERA_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(TESSERA_PACKAGING_OUT ${PROJECT_BINARY_DIR}/packaging)
# The installed places the manual pages name, as the package lays them out.
set(TESSERA_INSTALLED_SAMPLES /usr/${TESSERA_INSTALL_SAMPLESDIR})
set(TESSERA_INSTALLED_DOC /usr/${TESSERA_INSTALL_DOCDIR})

# The menu entry and its icon: the SVG, and PNGs rendered from it for the sizes the hicolor
# theme lists.
install(FILES ${TESSERA_PACKAGING_DIR}/tessera.desktop DESTINATION share/applications)
install(FILES ${TESSERA_PACKAGING_DIR}/icons/tessera.svg
        DESTINATION share/icons/hicolor/scalable/apps)
find_program(TESSERA_RSVG_CONVERT rsvg-convert)
if(TESSERA_RSVG_CONVERT)
  set(icons)
  foreach(size 16 22 24 32 48 64 128 256)
    set(icon ${TESSERA_PACKAGING_OUT}/icons/${size}x${size}/tessera.png)
    add_custom_command(OUTPUT ${icon}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${TESSERA_PACKAGING_OUT}/icons/${size}x${size}
      COMMAND ${TESSERA_RSVG_CONVERT} --width=${size} --height=${size}
              --output=${icon} ${TESSERA_PACKAGING_DIR}/icons/tessera.svg
      DEPENDS ${TESSERA_PACKAGING_DIR}/icons/tessera.svg VERBATIM)
    list(APPEND icons ${icon})
    install(FILES ${icon} DESTINATION share/icons/hicolor/${size}x${size}/apps)
  endforeach()
  add_custom_target(tessera_icons ALL DEPENDS ${icons})
else()
  message(STATUS "rsvg-convert (librsvg2-bin) not found: the icon is installed as SVG only")
endif()

# The AppStream metainfo, with the size of the screenshot read from the picture itself (a
# PNG's width and height are the 4-byte numbers at offsets 16 and 20).
file(READ ${PROJECT_SOURCE_DIR}/docs/main-window.png screenshot_size OFFSET 16 LIMIT 8 HEX)
string(SUBSTRING ${screenshot_size} 0 8 width)
string(SUBSTRING ${screenshot_size} 8 8 height)
math(EXPR TESSERA_SCREENSHOT_WIDTH "0x${width}")
math(EXPR TESSERA_SCREENSHOT_HEIGHT "0x${height}")
set(TESSERA_METAINFO ${TESSERA_PACKAGING_OUT}/${TESSERA_APPSTREAM_ID}.metainfo.xml)
configure_file(${TESSERA_PACKAGING_DIR}/tessera.metainfo.xml.in ${TESSERA_METAINFO} @ONLY)
install(FILES ${TESSERA_METAINFO} DESTINATION share/metainfo)

# The manual pages: tessera-batch.1 written from the built tool's --help and --describe (so it
# says what they say), tessera.1 by hand; installed compressed, as Debian keeps them.
set(man ${TESSERA_PACKAGING_OUT}/man)
configure_file(${TESSERA_PACKAGING_DIR}/man/tessera.1.in ${man}/tessera.1 @ONLY)
configure_file(${TESSERA_PACKAGING_DIR}/man/tessera-batch.sections.in
               ${man}/tessera-batch.sections @ONLY)
if(NOT Python_Interpreter_FOUND)
  find_package(Python 3 COMPONENTS Interpreter REQUIRED)
endif()
add_custom_command(OUTPUT ${man}/tessera-batch.1
  COMMAND ${Python_EXECUTABLE} ${TESSERA_PACKAGING_DIR}/man/batchpage.py
          $<TARGET_FILE:tessera-batch> ${man}/tessera-batch.sections ${PROJECT_VERSION}
          ${TESSERA_RELEASE_DATE} ${man}/tessera-batch.1
  DEPENDS tessera-batch ${TESSERA_PACKAGING_DIR}/man/batchpage.py
          ${man}/tessera-batch.sections VERBATIM)
set(pages)
foreach(page tessera tessera-batch)
  add_custom_command(OUTPUT ${man}/${page}.1.gz
    COMMAND gzip -9 -n -c ${man}/${page}.1 > ${man}/${page}.1.gz
    DEPENDS ${man}/${page}.1)
  list(APPEND pages ${man}/${page}.1.gz)
endforeach()
add_custom_target(tessera_manual_pages ALL DEPENDS ${pages})
install(FILES ${pages} DESTINATION share/man/man1)

# The documentation: the README with the pictures and formats it links to.
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${TESSERA_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${TESSERA_INSTALL_DOCDIR}/docs)

# The QGIS Processing plugin, in the system plugin folder of Debian's QGIS, and the start-up
# script that enables it for every user who has not disabled it (QGIS and qgis_process load
# only enabled plugins besides Processing itself; both run startup.py from every
# QGIS/QGIS3 folder of the system's data folders before they load the plugins).
install(DIRECTORY ${PROJECT_SOURCE_DIR}/qgis/tessera_processing
        DESTINATION share/qgis/python/plugins PATTERN __pycache__ EXCLUDE)
install(FILES ${TESSERA_PACKAGING_DIR}/qgis/startup.py DESTINATION share/QGIS/QGIS3)

# The Debian package: one package, tessera, holding the programs, the GDAL module, the Python
# module and the QGIS plugin (scripts/build-deb.sh puts the module into Debian's
# dist-packages). Its dependencies are those of its binaries (dpkg-shlibdeps), the Python the
# module was built for and numpy; QGIS and dask are suggested.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessera)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tessera_V2 project")
set(CPACK_PACKAGE_CONTACT "Tessera_V2 project <tessera@tessera-v2.example.org>" CACHE STRING
    "The package's maintainer")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "segment the bands of a satellite scene and cross them into classes")
# The long description, under the summary; CPack indents its lines and marks the empty one.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Tessera_V2 analyses multi-band gray-tone images, for example the spectral bands
of one satellite scene: it segments every band into a few gray-level segments
(equal-width, equal-population or typed ranges) and crosses the segmented bands
into classes, written as a bitmap, a raw image and a report, and for
georeferenced bands as a cloud-optimised GeoTIFF with its legend, a QGIS style
and a class table.

This package holds the interactive program (tessera), the batch tool
(tessera-batch), the Python module (tessera, tessera.dask), the QGIS Processing
plugin and a sample band set.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${TESSERA_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(depends "")
if(TESSERA_PYTHON)
  # An extension module is built for one minor version of Python.
  math(EXPR next_minor "${Python_VERSION_MINOR} + 1")
  set(depends "python3 (>= ${Python_VERSION_MAJOR}.${Python_VERSION_MINOR}~), python3 (<< ${Python_VERSION_MAJOR}.${next_minor}), python3-numpy")
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${depends}")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "qgis, python3-qgis, python3-dask, python3-distributed, python3-rioxarray")
# Python's byte code of the module and of the plugin, compiled on installation and removed
# before removal, as Debian's Python packages do, so that nothing is left behind.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${TESSERA_PACKAGING_DIR}/debian/postinst ${TESSERA_PACKAGING_DIR}/debian/prerm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# A Debian package keeps its Python module in Debian's dist-packages (where Debian's python3
# puts its site-packages, and where scripts/build-deb.sh puts it): elsewhere cpack refuses to
# make one.
set(TESSERA_DEB_REFUSAL "")
if(TESSERA_PYTHON)
  get_directory_property(python_dir DIRECTORY ${PROJECT_SOURCE_DIR}/python
                         DEFINITION TESSERA_PYTHON_INSTALL_DIR)
  if(NOT python_dir MATCHES "^(/usr/)?lib/python3/dist-packages$")
    set(TESSERA_DEB_REFUSAL "The Python module of this build goes to ${python_dir}, not to \
Debian's dist-packages: build the package with scripts/build-deb.sh, or configure with \
-DTESSERA_PYTHON_INSTALL_DIR=lib/python3/dist-packages")
  endif()
endif()
configure_file(${TESSERA_PACKAGING_DIR}/CPackProject.cmake.in
               ${TESSERA_PACKAGING_OUT}/CPackProject.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${TESSERA_PACKAGING_OUT}/CPackProject.cmake)
include(CPack)
