# Installation of the settings client: header, static library, pkg-config
# file and a CMake package exporting SettingsClient::settings_client, all in
# the install component "SettingsClient" (cmake --install --component
# SettingsClient installs the library alone).
include(CMakePackageConfigHelpers)

install(TARGETS settings_client EXPORT SettingsClientTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT SettingsClient
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/settings_client COMPONENT SettingsClient)
install(EXPORT SettingsClientTargets
  NAMESPACE SettingsClient::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/SettingsClient
  COMPONENT SettingsClient)

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/SettingsClientConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/SettingsClientConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/SettingsClient)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/SettingsClientConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES
  ${CMAKE_CURRENT_BINARY_DIR}/SettingsClientConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/SettingsClientConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/SettingsClient
  COMPONENT SettingsClient)

# The pkg-config file names the prefix relative to its own directory.
file(RELATIVE_PATH SETTINGS_CLIENT_PC_TO_PREFIX
  /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" SETTINGS_CLIENT_PC_TO_PREFIX "${SETTINGS_CLIENT_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/settings-client.pc.in
  ${CMAKE_CURRENT_BINARY_DIR}/settings-client.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/settings-client.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  COMPONENT SettingsClient)
