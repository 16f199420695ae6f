# Installation of the settings client: header, static library, pkg-config
# file and a CMake package exporting SettingsClient::settings_client.
include(CMakePackageConfigHelpers)

install(TARGETS settings_client EXPORT SettingsClientTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/settings_client)
install(EXPORT SettingsClientTargets
  NAMESPACE SettingsClient::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/SettingsClient)

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/SettingsClientConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/SettingsClientConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/SettingsClient)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/SettingsClientConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES
  ${CMAKE_CURRENT_BINARY_DIR}/SettingsClientConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/SettingsClientConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/SettingsClient)

configure_file(${PROJECT_SOURCE_DIR}/cmake/settings-client.pc.in
  ${CMAKE_CURRENT_BINARY_DIR}/settings-client.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/settings-client.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
