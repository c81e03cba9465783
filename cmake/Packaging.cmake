# SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
# SPDX-License-Identifier: GPL-3.0-or-later
# What the package installs beside the programs, and the Debian package CPack makes of it.
find_program(GZIP_EXECUTABLE gzip REQUIRED)
# The PNG icons are drawn from the one SVG at build time, so that they never drift from it.
find_program(RSVG_CONVERT_EXECUTABLE rsvg-convert REQUIRED)

set(kestrel_res ${PROJECT_SOURCE_DIR}/res)
set(kestrel_generated ${PROJECT_BINARY_DIR}/packaging)
set(kestrel_doc_dir ${CMAKE_INSTALL_DATADIR}/doc/${PROJECT_NAME})
set(kestrel_package_files)

# Manual pages and the changelog are installed compressed, without a time stamp in the header.
foreach(source ${kestrel_res}/kestrel-recovery.1 ${kestrel_res}/kestrel-recovery-cli.1
               ${PROJECT_SOURCE_DIR}/packaging/changelog)
    cmake_path(GET source FILENAME name)
    set(compressed ${kestrel_generated}/${name}.gz)
    add_custom_command(OUTPUT ${compressed}
        COMMAND ${CMAKE_COMMAND} -E copy ${source} ${kestrel_generated}/${name}
        COMMAND ${GZIP_EXECUTABLE} -9nf ${kestrel_generated}/${name}
        DEPENDS ${source} VERBATIM)
    list(APPEND kestrel_package_files ${compressed})
endforeach()

set(kestrel_icon_sizes 48 64 128 256)
foreach(size ${kestrel_icon_sizes})
    set(icon ${kestrel_generated}/icons/${size}/kestrel-recovery.png)
    add_custom_command(OUTPUT ${icon}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${kestrel_generated}/icons/${size}
        COMMAND ${RSVG_CONVERT_EXECUTABLE} -w ${size} -h ${size}
                -o ${icon} ${kestrel_res}/kestrel-recovery.svg
        DEPENDS ${kestrel_res}/kestrel-recovery.svg VERBATIM)
    list(APPEND kestrel_package_files ${icon})
    install(FILES ${icon} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
add_custom_target(kestrel_package_files ALL DEPENDS ${kestrel_package_files})

install(FILES ${kestrel_res}/kestrel-recovery.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${kestrel_res}/org.kestrel_recovery.wizard.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${kestrel_res}/kestrel-recovery.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps)
install(FILES ${kestrel_res}/kestrel-recovery.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${kestrel_generated}/kestrel-recovery.1.gz ${kestrel_generated}/kestrel-recovery-cli.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${kestrel_generated}/changelog.gz ${PROJECT_SOURCE_DIR}/packaging/copyright
        DESTINATION ${kestrel_doc_dir})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME ${PROJECT_NAME})

# A stripped package is stripped as Debian strips: the toolchain's .comment notes go as well.
install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
        file(GLOB programs \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/*\"
                           \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_SBINDIR}/*\"
                           \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBEXECDIR}/${PROJECT_NAME}/*\")
        foreach(program \${programs})
            execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment \${program}
                            COMMAND_ERROR_IS_FATAL ANY)
        endforeach()
    endif()")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_CONTACT "The kestrel-recovery developers <devel@kestrel-recovery.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Brings a router with damaged firmware back to life")
set(CPACK_PACKAGE_DESCRIPTION
    "A router whose firmware is damaged stays in its boot loader, which waits at\n"
    "192.168.1.1 for a new image. This wizard checks whether a working router\n"
    "answers at all. If none does, it takes the PC's addresses and routes that\n"
    "clash with 192.168.1.0/24 off for a while, finds the boot loader by ARP on\n"
    "each wired Ethernet adapter in turn, uploads the firmware image by TFTP, puts\n"
    "the PC's settings back and waits for the router to restart.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})  # no semicolons above
# The programs carry the helper's installed path, which the polkit action names too: the package
# installs where the build was configured to (the presets say /usr).
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://kestrel-recovery.org/)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The wizard's fonts, and the display plugin for Wayland sessions (Qt falls back to XWayland).
# A front end that is not root asks for the helper's rights through pkexec and polkitd.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "pkexec")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation, qt6-wayland")
include(CPack)
