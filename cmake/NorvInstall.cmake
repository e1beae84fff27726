# `cmake --install` lays out a prefix as a Linux desktop expects:
#   bin/                              NorvBridgeMac and NorvMIDIHelper
#   share/norv-bridge/                the resource folder (brand images, demo runtime, Remote Script);
#                                     the application finds it at <exe>/../share/norv-bridge
#   share/applications/               the desktop entry
#   share/icons/hicolor/scalable/apps the application icon
# The layout is fixed (not GNUInstallDirs): the application's relative lookup depends on it.
# `cmake --install <build> --strip` strips every installed program, the interpreter stub included.

install(TARGETS NorvMIDIHelper RUNTIME DESTINATION bin)

if(NORV_BUILD_APP)
  install(TARGETS NorvBridgeMac RUNTIME DESTINATION bin)
  # The interpreter stub is a program of its own, installed as a target so it is stripped too.
  get_target_property(norv_stub_dir norv_python_stub RUNTIME_OUTPUT_DIRECTORY)
  file(RELATIVE_PATH norv_stub_dir ${NORV_SHARE_DIR} ${norv_stub_dir})
  install(DIRECTORY ${NORV_SHARE_DIR}/ DESTINATION share/norv-bridge USE_SOURCE_PERMISSIONS
    PATTERN "__pycache__" EXCLUDE
    PATTERN "*.pyc" EXCLUDE
    PATTERN "calls.jsonl" EXCLUDE
    PATTERN "python3.13" EXCLUDE)
  install(TARGETS norv_python_stub RUNTIME DESTINATION share/norv-bridge/${norv_stub_dir})
  # The entry names the installed program by its full path, so it starts from any prefix,
  # whether or not that prefix's bin/ is on the desktop's PATH.
  install(CODE "
    set(NORV_EXEC \"\${CMAKE_INSTALL_PREFIX}/bin/NorvBridgeMac\")
    configure_file(\"${CMAKE_SOURCE_DIR}/resources/norv-bridge.desktop.in\"
                   \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/share/applications/norv-bridge.desktop\" @ONLY)
    message(STATUS \"Installing: \$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/share/applications/norv-bridge.desktop\")
  ")
  install(FILES ${CMAKE_SOURCE_DIR}/ui/brand/NorvAppIcon.svg
    DESTINATION share/icons/hicolor/scalable/apps RENAME norv-bridge.svg)
endif()
