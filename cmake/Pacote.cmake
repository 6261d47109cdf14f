# The Debian package, built with `cpack -G DEB` in the build tree: the server,
# tolvan-cli, tolvan-inspeciona and everything client programs build against
# (cmake/Instalacao.cmake). Its maintainer scripts register the server for the
# machine on installation and take the registration away on removal.
if(NOT TARGET Tolvan OR NOT TARGET tolvan-inspeciona OR NOT TARGET cliente)
  return()
endif()

# The server is started by the client runtime, not by people.
install(TARGETS Tolvan RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/tolvan)
install(TARGETS tolvan-inspeciona RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(ZEL_SERVIDOR_INSTALADO ${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBEXECDIR}/tolvan/Tolvan)
foreach(script postinst prerm)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/${script}.in ${PROJECT_BINARY_DIR}/debian/${script} @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
                                  WORLD_EXECUTE)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tolvan)
set(CPACK_PACKAGE_VENDOR "Zel Sistemas")
set(CPACK_PACKAGE_CONTACT "Zel Sistemas <suporte@zelsistemas.com.br>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Vovi Dadi service of the fiscal module, its tools and client library")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/postinst ${PROJECT_BINARY_DIR}/debian/prerm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
