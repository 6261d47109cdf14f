# What client programs build against: the interface and runtime headers, the
# client library with the runtime and platform libraries it needs, tolvan-cli,
# a CMake package (find_package(Tolvan), target Tolvan::cliente) and a
# pkg-config file (tolvan).
if(NOT TARGET cliente)
  return()
endif()

set(ZEL_INCLUDE_INSTALADO ${CMAKE_INSTALL_INCLUDEDIR}/tolvan)
set(ZEL_CMAKE_INSTALADO ${CMAKE_INSTALL_LIBDIR}/cmake/Tolvan)

# Installed under names of their own, beside the system's other libraries.
set_target_properties(plataforma PROPERTIES OUTPUT_NAME tolvan_plataforma)
set_target_properties(componentes PROPERTIES OUTPUT_NAME tolvan_componentes)
set_target_properties(cliente PROPERTIES OUTPUT_NAME tolvan_cliente)

install(TARGETS cliente componentes plataforma tolvan_interface
        EXPORT TolvanTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${ZEL_INCLUDE_INSTALADO})
install(TARGETS tolvan-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

file(GLOB ZEL_CABECALHOS_INSTALADOS
     ${PROJECT_SOURCE_DIR}/Plataforma/*.h
     ${PROJECT_SOURCE_DIR}/Componentes/*.h
     ${PROJECT_SOURCE_DIR}/Interface/*.h)
list(FILTER ZEL_CABECALHOS_INSTALADOS EXCLUDE REGEX "(ZelTesteAjudante|ZelLocalTesteClasse)\\.h$")
install(FILES ${ZEL_CABECALHOS_INSTALADOS} ${PROJECT_SOURCE_DIR}/Cliente/ZelClienteIEx.h
        DESTINATION ${ZEL_INCLUDE_INSTALADO})

install(EXPORT TolvanTargets NAMESPACE Tolvan:: DESTINATION ${ZEL_CMAKE_INSTALADO})
include(CMakePackageConfigHelpers)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/TolvanConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/TolvanConfig.cmake
                              INSTALL_DESTINATION ${ZEL_CMAKE_INSTALADO})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/TolvanConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/TolvanConfig.cmake ${PROJECT_BINARY_DIR}/TolvanConfigVersion.cmake
        DESTINATION ${ZEL_CMAKE_INSTALADO})

# The prefix is found from the file's own place, so that any --prefix holds.
set(ZEL_PC_PREFIXO "\${pcfiledir}")
string(REPLACE "/" ";" ZEL_PC_PARTES "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
foreach(parte IN LISTS ZEL_PC_PARTES)
  string(APPEND ZEL_PC_PREFIXO "/..")
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/cmake/tolvan.pc.in ${PROJECT_BINARY_DIR}/tolvan.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/tolvan.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
