# `cmake --install` lays out a prefix as a Linux desktop expects (GNUInstallDirs names):
#   bin/                              NorvBridgeMac and NorvMIDIHelper
#   share/norv-bridge/                the resource folder (brand images, demo runtime, Remote Script);
#                                     the application finds it at <exe>/../share/norv-bridge
#   share/applications/               the desktop entry org.norv.NorvBridge.desktop
#   share/metainfo/                   its AppStream metainfo, for software centres
#   share/icons/hicolor/scalable/apps the application icon
#   share/man/man1/                   a manual page per program, gzip-compressed
# `cmake --install <build> --strip` strips both programs.
include(GNUInstallDirs)
# The application's relative lookup of its resource folder needs bin/ and share/ side by side.
if(NOT CMAKE_INSTALL_BINDIR STREQUAL "bin" OR NOT CMAKE_INSTALL_DATADIR STREQUAL "share")
  message(FATAL_ERROR "NorvBridgeMac finds its resources at bin/../share: keep CMAKE_INSTALL_BINDIR=bin "
                      "and CMAKE_INSTALL_DATADIR=share")
endif()

# The id that the desktop entry, the metainfo and the Wayland application id share.
set(NORV_APP_ID org.norv.NorvBridge)
# No licence has been granted for the project's own files yet; the metainfo and the package's
# copyright file say so from here.
set(NORV_PROJECT_LICENSE LicenseRef-proprietary)
# The release's date: SOURCE_DATE_EPOCH when set (scripts/package.sh sets the last commit's),
# else today.
string(TIMESTAMP NORV_RELEASE_DATE "%Y-%m-%d" UTC)
set(norv_generated ${CMAKE_BINARY_DIR}/generated)

# Fixed modes whatever the builder's umask or the checkout's modes: folders and programs 755,
# other files 644. Folders the rules create on their way take the folder mode.
set(norv_program_mode OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(norv_file_mode OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${norv_program_mode})

install(TARGETS NorvMIDIHelper RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The manual pages, with the project's version, compressed as Debian installs them (-n: no name or
# time stamp inside, so a rebuild gives the same bytes).
find_program(NORV_GZIP gzip REQUIRED)
set(norv_man_pages NorvMIDIHelper)
if(NORV_BUILD_APP)
  list(APPEND norv_man_pages NorvBridgeMac)
endif()
set(norv_man_outputs)
foreach(page IN LISTS norv_man_pages)
  configure_file(${CMAKE_SOURCE_DIR}/resources/man/${page}.1.in ${norv_generated}/man/${page}.1 @ONLY)
  set(out ${norv_generated}/man1/${page}.1.gz)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E copy ${norv_generated}/man/${page}.1 ${norv_generated}/man1/${page}.1
    COMMAND ${NORV_GZIP} -9nf ${norv_generated}/man1/${page}.1
    DEPENDS ${norv_generated}/man/${page}.1
    COMMENT "Manual page: ${page}(1)")
  list(APPEND norv_man_outputs ${out})
endforeach()
add_custom_target(norv_man_pages ALL DEPENDS ${norv_man_outputs})
install(FILES ${norv_man_outputs} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

if(NORV_BUILD_APP)
  install(TARGETS NorvBridgeMac RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # The interpreter stub is the resource folder's one program.
  install(DIRECTORY ${NORV_SHARE_DIR}/ DESTINATION ${CMAKE_INSTALL_DATADIR}/norv-bridge
    FILE_PERMISSIONS ${norv_file_mode}
    DIRECTORY_PERMISSIONS ${norv_program_mode}
    PATTERN "__pycache__" EXCLUDE
    PATTERN "*.pyc" EXCLUDE
    PATTERN "calls.jsonl" EXCLUDE
    PATTERN "python3.13" PERMISSIONS ${norv_program_mode})
  # The entry names the installed program by its full path, so it starts from any prefix,
  # whether or not that prefix's bin/ is on the desktop's PATH. Its folder is made by a rule of
  # its own, so it takes the folder mode too.
  install(DIRECTORY DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(CODE "
    set(NORV_EXEC \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/NorvBridgeMac\")
    set(norv_entry \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/applications/${NORV_APP_ID}.desktop\")
    configure_file(\"${CMAKE_SOURCE_DIR}/resources/desktop/${NORV_APP_ID}.desktop.in\" \"\${norv_entry}\" @ONLY
                   NO_SOURCE_PERMISSIONS)
    message(STATUS \"Installing: \${norv_entry}\")
  ")
  configure_file(${CMAKE_SOURCE_DIR}/resources/desktop/${NORV_APP_ID}.metainfo.xml.in
                 ${norv_generated}/${NORV_APP_ID}.metainfo.xml @ONLY)
  install(FILES ${norv_generated}/${NORV_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES ${CMAKE_SOURCE_DIR}/ui/brand/NorvAppIcon.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME norv-bridge.svg)
endif()
