# Installation and the Debian package.
#
# `cmake --install <build> --prefix <dir>` lays out:
#   bin/ronvix, bin/ronvix-capture (once tools/ builds it)
#   share/applications/<id>.desktop
#   share/icons/hicolor/scalable/apps/<id>.svg and NxN/apps/<id>.png
#   share/metainfo/<id>.metainfo.xml
#   share/man/man1/ronvix.1.gz, ronvix-capture.1.gz
# `cmake --build <build> --target package` (or cpack in the build folder)
# makes ronvix_<version>_<arch>.deb from the same rules; its Depends come
# from the binaries through dpkg-shlibdeps.
#
# Included at the end of the top-level CMakeLists.txt, so every program
# target exists by now.

include(GNUInstallDirs)

# The reverse-DNS application id: desktop entry, icon and metainfo names.
set(RONVIX_APP_ID io.github.ronvix.Ronvix)
set(RONVIX_DATA_DIR ${CMAKE_SOURCE_DIR}/data)
set(RONVIX_GEN_DIR ${CMAKE_BINARY_DIR}/data)

# --- Programs ---------------------------------------------------------------
install(TARGETS ronvix RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET ronvix-capture)
    install(TARGETS ronvix-capture RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    set(RONVIX_CAPTURE_PROVIDES "    <binary>ronvix-capture</binary>\n")
else()
    set(RONVIX_CAPTURE_PROVIDES "")
endif()

# --- Desktop entry and AppStream metainfo -----------------------------------
install(FILES ${RONVIX_DATA_DIR}/${RONVIX_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
configure_file(${RONVIX_DATA_DIR}/${RONVIX_APP_ID}.metainfo.xml.in
               ${RONVIX_GEN_DIR}/${RONVIX_APP_ID}.metainfo.xml @ONLY)
install(FILES ${RONVIX_GEN_DIR}/${RONVIX_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# --- Icon: the SVG, and PNG sizes rendered from it at build time ------------
set(RONVIX_ICON_SVG ${RONVIX_DATA_DIR}/${RONVIX_APP_ID}.svg)
set(RONVIX_ICON_SIZES 16 22 24 32 48 64 128 256)
install(FILES ${RONVIX_ICON_SVG}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
find_program(RONVIX_RSVG_CONVERT rsvg-convert)
if(RONVIX_RSVG_CONVERT)
    set(icon_pngs)
    foreach(size ${RONVIX_ICON_SIZES})
        set(dir ${RONVIX_GEN_DIR}/icons/${size}x${size}/apps)
        set(png ${dir}/${RONVIX_APP_ID}.png)
        add_custom_command(
            OUTPUT ${png}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
            COMMAND ${RONVIX_RSVG_CONVERT} --width=${size} --height=${size}
                    --output=${png} ${RONVIX_ICON_SVG}
            DEPENDS ${RONVIX_ICON_SVG}
            COMMENT "Rendering the ${size}x${size} icon"
            VERBATIM)
        list(APPEND icon_pngs ${png})
        install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
    endforeach()
    add_custom_target(ronvix_icons ALL DEPENDS ${icon_pngs})
else()
    message(WARNING "rsvg-convert (Debian package librsvg2-bin) not found: "
                    "the PNG icon sizes are neither built nor installed")
endif()

# --- Manual pages: version filled in, compressed as Debian ships them -------
set(man_gzs)
foreach(page ronvix ronvix-capture)
    configure_file(${RONVIX_DATA_DIR}/${page}.1.in ${RONVIX_GEN_DIR}/man/${page}.1 @ONLY)
    set(gz ${RONVIX_GEN_DIR}/man/${page}.1.gz)
    # -n keeps the name and time out of the archive, so the package is
    # reproducible.
    add_custom_command(
        OUTPUT ${gz}
        COMMAND gzip -9 -n -f -k ${RONVIX_GEN_DIR}/man/${page}.1
        DEPENDS ${RONVIX_GEN_DIR}/man/${page}.1 ${RONVIX_DATA_DIR}/${page}.1.in
        VERBATIM)
    list(APPEND man_gzs ${gz})
    install(FILES ${gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
add_custom_target(ronvix_manpages ALL DEPENDS ${man_gzs})

# --- Debian package -----------------------------------------------------------
set(RONVIX_DEB_MAINTAINER "Ronvix developers <maintainers@ronvix.invalid>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ronvix)
set(CPACK_PACKAGE_VENDOR "The Ronvix developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "video capture into AVI files with live preview, and print to tape")
# The summary above is the first line of Description; this is the rest.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Ronvix records video and audio from capture devices (cameras, capture
cards, sound cards) into AVI files, with a live preview and
running statistics: elapsed time, captured and dropped frames, free disk
space, data rate and the recording time left. Picture, compression and
audio-input controls act on the devices live. Print to Tape plays an AVI
file out to a video output device with a seek bar.
.
Built-in virtual devices (a test-pattern camera, a test-tone generator, a
virtual tape deck and a silent audio output) make it usable without any
hardware. The package also holds ronvix-capture, a command-line tool for
scripted captures and play-outs.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${RONVIX_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Library dependencies come from the binaries (dpkg-shlibdeps). What they
# load by other means is named here: the window layout is measured in pixels
# for the Liberation fonts.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation")
# xdg-user-dirs names the videos folder that drive C: stands for.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-user-dirs")
set(CPACK_STRIP_FILES ON)
include(CPack)

if(RONVIX_BUILD_TESTS)
    add_subdirectory(tests/packaging)
endif()
