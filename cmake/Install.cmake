# What `cmake --install` puts under the prefix: the client library (shared
# and, on POSIX, static) with its header, a CMake package and a pkg-config
# file for its consumers, and the `dovel` command. Nothing else the build
# makes is installed: tests, benchmarks, the demonstration and the internal
# static libraries stay in the build tree.
#
#   <libdir>/libdovel-client.so.1.0.0, .so.1, .so
#       (Windows: <bindir>/libdovel-client.dll, <libdir>/libdovel-client.dll.a)
#   <libdir>/libdovel-client.a
#   <includedir>/dovel/client.h, and dovel/server.h when the library has the bus client
#   <libdir>/cmake/Dovel/             find_package(Dovel): Dovel::client, Dovel::client_static
#   <libdir>/pkgconfig/dovel-client.pc
#   <bindir>/dovel, <datadir>/bash-completion/completions/dovel
#   <bindir>/dovel-server, and what starts it on the session bus:
#       <datadir>/dbus-1/services/org.dovel.Dovel.service
#       <prefix>/lib/systemd/user/dovel.service
#   <datadir>/dbus-1/interfaces/org.dovel.Dovel.xml
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

if(TARGET dovel_client_shared)
  set(DOVEL_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Dovel)
  set_target_properties(dovel_client_shared PROPERTIES EXPORT_NAME client)
  # On Windows the DLL goes with the programs, its import library with the
  # libraries.
  install(TARGETS dovel_client_shared EXPORT DovelTargets
          RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
          ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
  if(TARGET dovel_client_static)
    set_target_properties(dovel_client_static PROPERTIES EXPORT_NAME client_static)
    install(TARGETS dovel_client_static EXPORT DovelTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
  endif()
  install(EXPORT DovelTargets NAMESPACE Dovel:: DESTINATION ${DOVEL_PACKAGE_DIR})
  install(FILES ${PROJECT_SOURCE_DIR}/src/client/include/dovel/client.h
          DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/dovel)
  # The bus client's calls are in the library when it was built with them.
  if(TARGET dovel_client_bus)
    install(FILES ${PROJECT_SOURCE_DIR}/src/client/include/dovel/server.h
            DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/dovel)
  endif()

  configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/DovelConfig.cmake.in
                                ${PROJECT_BINARY_DIR}/DovelConfig.cmake INSTALL_DESTINATION ${DOVEL_PACKAGE_DIR})
  # The library's version is the product's; a consumer of 1.x takes any 1.y.
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/DovelConfigVersion.cmake
                                   VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}
                                   COMPATIBILITY SameMajorVersion)
  install(FILES ${PROJECT_BINARY_DIR}/DovelConfig.cmake ${PROJECT_BINARY_DIR}/DovelConfigVersion.cmake
          DESTINATION ${DOVEL_PACKAGE_DIR})
endif()

if(NOT UNIX)
  return()
endif()

if(TARGET dovel_client_shared)
  # The .pc file finds its prefix from where it lies, so the tree still
  # works after `--prefix`, DESTDIR staging or a move.
  if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
    set(DOVEL_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
    set(DOVEL_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
  else()
    file(RELATIVE_PATH DOVEL_PC_UP /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
    string(REGEX REPLACE "/$" "" DOVEL_PC_UP "${DOVEL_PC_UP}")
    set(DOVEL_PC_PREFIX "\${pcfiledir}/${DOVEL_PC_UP}")
    set(DOVEL_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
  endif()
  if(IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
    set(DOVEL_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
  else()
    set(DOVEL_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
  endif()
  # A static consumer links what the static library's installed link
  # interface names: one list, in src/client.
  set(DOVEL_PC_LIBS_PRIVATE "")
  if(TARGET dovel_client_static)
    get_target_property(static_links dovel_client_static INTERFACE_LINK_LIBRARIES)
    string(REGEX MATCH "\\$<INSTALL_INTERFACE:([^>]*)>" match "${static_links}")
    foreach(library IN LISTS CMAKE_MATCH_1)
      string(APPEND DOVEL_PC_LIBS_PRIVATE " -l${library}")
    endforeach()
    string(STRIP "${DOVEL_PC_LIBS_PRIVATE}" DOVEL_PC_LIBS_PRIVATE)
  endif()
  configure_file(${CMAKE_CURRENT_LIST_DIR}/dovel-client.pc.in ${PROJECT_BINARY_DIR}/dovel-client.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/dovel-client.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endif()

if(TARGET dovel)
  install(TARGETS dovel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/tools/dovel/dovel.bash-completion
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME dovel)
endif()

if(TARGET dovel-server)
  install(TARGETS dovel-server RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/src/com/dbus/org.dovel.Dovel.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/dbus-1/interfaces)
  # The bus starts the server from the service file; where a systemd user
  # session runs the bus, systemd starts it from the unit instead. Both name
  # the server where this configuration installs it.
  set(DOVEL_INSTALL_TEMPLATES ${PROJECT_SOURCE_DIR}/src/com/dbus/install)
  configure_file(${DOVEL_INSTALL_TEMPLATES}/org.dovel.Dovel.service.in
                 ${PROJECT_BINARY_DIR}/dbus/installed/org.dovel.Dovel.service @ONLY)
  configure_file(${DOVEL_INSTALL_TEMPLATES}/dovel.service.in ${PROJECT_BINARY_DIR}/dbus/installed/dovel.service @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/dbus/installed/org.dovel.Dovel.service
          DESTINATION ${CMAKE_INSTALL_DATADIR}/dbus-1/services)
  install(FILES ${PROJECT_BINARY_DIR}/dbus/installed/dovel.service DESTINATION lib/systemd/user)
endif()
