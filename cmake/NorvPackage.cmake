# The Debian package (CPack's DEB generator; scripts/package.sh runs it): the install rules of
# NorvInstall.cmake under /usr, stripped, with the files Debian asks of every package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME norv-bridge)
set(CPACK_PACKAGE_VENDOR Norv)
set(CPACK_PACKAGE_CONTACT "Norv Bridge developers <bridge@norv.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The desktop entry's Exec names the installed program: the package installs into a staging
# folder under DESTDIR with the prefix /usr, not into a prefix inside the staging folder.
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "tablets and phones as MIDI and MPE instruments for Ableton Live")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Norv Bridge lets tablets and phones act as MIDI and MPE instruments and control
surfaces for Ableton Live, over Wi-Fi, USB or Bluetooth LE. NorvBridgeMac, the
desktop application, starts and supervises the bridge engine, connects to it
over a certificate-pinned TLS channel and shows devices, the Live session,
routes, a MIDI and MPE monitor and logs. A demo engine ships with it.
NorvMIDIHelper plays network MIDI on a virtual JACK MIDI port.")
# Libraries as dpkg-shlibdeps finds them, then what the programs run or load: python3 for the demo
# engine, openssl for the bridge's TLS identity, and Qt's platform plugins: qt6-qpa-plugins holds
# X11's (and the offscreen one), without which the window cannot open (libqt6gui6 only recommends
# it); Wayland's is in qt6-wayland, without which a Wayland session runs the window through
# XWayland.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3, openssl, qt6-qpa-plugins, qt6-wayland")
# What makes it whole: a Secret Service for the identity, BlueZ for Bluetooth LE devices, and a
# JACK server for the helper's MIDI.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gnome-keyring | libkf5wallet-bin, bluez, jackd2 | pipewire-jack")

# Debian's own files: the copyright and changelog under share/doc/<package>. They belong to the package only, not to `cmake --install`.
set(norv_debian ${CMAKE_BINARY_DIR}/generated/debian-extras)
string(TIMESTAMP NORV_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
string(TIMESTAMP NORV_COPYRIGHT_YEAR "%Y" UTC)
file(REMOVE_RECURSE ${norv_debian})
configure_file(${CMAKE_SOURCE_DIR}/resources/debian/copyright.in
               ${norv_debian}/share/doc/${CPACK_PACKAGE_NAME}/copyright @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/resources/debian/changelog.in
               ${norv_debian}/share/doc/${CPACK_PACKAGE_NAME}/changelog @ONLY)
execute_process(COMMAND ${NORV_GZIP} -9nf ${norv_debian}/share/doc/${CPACK_PACKAGE_NAME}/changelog
                COMMAND_ERROR_IS_FATAL ANY)
set(CPACK_INSTALLED_DIRECTORIES "${norv_debian};${CPACK_PACKAGING_INSTALL_PREFIX}")

include(CPack)
