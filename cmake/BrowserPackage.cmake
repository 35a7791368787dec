# What `cmake --install` puts in place: the three libraries, the public headers, bstorage, a
# CMake package (find_package(BrowserStorage)) and pkg-config files.
#
#   BrowserStorage::platform  libbrowserplatform.so, the Windows-named platform layer
#   BrowserStorage::objects   libbrowserobjects.so, the object factory and shared objects
#   BrowserStorage::storage   the storage library's headers (a host loads the library with
#                             dlopen and links only the two above)
#   BrowserStorage::library   libbrowserstorage.so itself, for its path:
#                             $<TARGET_FILE:BrowserStorage::library>
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

add_library(browserstorage_headers INTERFACE)
target_include_directories(browserstorage_headers INTERFACE
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include> $<INSTALL_INTERFACE:include>)
target_link_libraries(browserstorage_headers INTERFACE browserplatform ${CMAKE_DL_LIBS})

set_target_properties(browserplatform PROPERTIES EXPORT_NAME platform)
set_target_properties(browserobjects PROPERTIES EXPORT_NAME objects)
set_target_properties(browserstorage_headers PROPERTIES EXPORT_NAME storage)
set_target_properties(browserstorage PROPERTIES EXPORT_NAME library)
# Each library finds the others beside it; bstorage finds them from bin/.
set_target_properties(browserplatform browserobjects browserstorage PROPERTIES
  INSTALL_RPATH "$ORIGIN")
file(RELATIVE_PATH BROWSER_BIN_TO_LIB ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
set_target_properties(bstorage PROPERTIES INSTALL_RPATH "$ORIGIN/${BROWSER_BIN_TO_LIB}")

install(TARGETS browserplatform browserobjects browserstorage browserstorage_headers
  EXPORT BrowserStorageTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS bstorage RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(BROWSER_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/BrowserStorage)
install(EXPORT BrowserStorageTargets NAMESPACE BrowserStorage:: DESTINATION ${BROWSER_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/BrowserStorageConfig.cmake.in
  ${PROJECT_BINARY_DIR}/BrowserStorageConfig.cmake INSTALL_DESTINATION ${BROWSER_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/BrowserStorageConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/BrowserStorageConfig.cmake
              ${PROJECT_BINARY_DIR}/BrowserStorageConfigVersion.cmake
        DESTINATION ${BROWSER_CMAKE_DIR})

# Relocatable: the prefix is found from where the .pc file lies.
file(RELATIVE_PATH BROWSER_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig
     ${CMAKE_INSTALL_PREFIX})
foreach(pc browserplatform browserobjects browserstorage)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/${pc}.pc.in ${PROJECT_BINARY_DIR}/pkgconfig/${pc}.pc
                 @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/pkgconfig/${pc}.pc
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()
