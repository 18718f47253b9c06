# What `cmake --install` puts in place, so that another program can use the
# installation registry through the runtime and the interfaces:
#
#   bin/zebinst                  the command (registers modules, makes and inspects installations)
#   lib/libzebcom.so             the platform runtime a client links
#   lib/libk4bi00tx.so           the component module, reached through the registry store
#   lib/libk4wtrcax.so ...       the modules the system loads by name at run time
#   lib/libzebsamples.so         the sample components (zebinst links them)
#   lib/pkgconfig/zeb.pc         Cflags and Libs for a client
#   include/zeb/h/...            the interfaces, and the platform headers they and a client need
#   share/zeb/stylesheets/       the default stylesheets of a configuration directory
#
# The shared libraries lie side by side in one folder: the runtime looks up a
# module loaded by name beside the loading module and beside libzebcom.so, and
# each library finds the others through its RUNPATH $ORIGIN. Programs look in
# the library folder relative to their own. The static libraries of the
# subsystems are not installed: they are linked into libk4bi00tx.so, whose
# only exports are the four module entry points, so a client has no use for
# them.
include(GNUInstallDirs)

# The product version, as the settings key of the registry store names it.
set(ZEB_VERSION 4.1)

# Every #include "..." a header makes, followed through the tree: the headers
# that must be installed so that `roots` compile from the installed folder.
function(zeb_header_closure out)
  set(todo ${ARGN})
  set(seen "")
  while(todo)
    list(POP_FRONT todo header)
    if(header IN_LIST seen)
      continue()
    endif()
    list(APPEND seen ${header})
    file(STRINGS ${CMAKE_SOURCE_DIR}/${header} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line IN LISTS lines)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" included "${line}")
      if(NOT EXISTS ${CMAKE_SOURCE_DIR}/${included})
        message(FATAL_ERROR "${header} includes ${included}, which is not in the tree")
      endif()
      list(APPEND todo ${included})
    endforeach()
  endwhile()
  list(SORT seen)
  set(${out} ${seen} PARENT_SCOPE)
endfunction()

set(ZEB_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/zeb)

# The interfaces, and what a client calls besides them: activation and
# initialisation, the task allocator, the registry store (settings, module
# registration), module loading, text conversion, the storage interfaces of
# the exchange operations and the DOM interfaces of the classification
# document.
file(GLOB _zeb_interface_headers RELATIVE ${CMAKE_SOURCE_DIR} CONFIGURE_DEPENDS
     ${CMAKE_SOURCE_DIR}/h/*.h)
zeb_header_closure(ZEB_PUBLIC_HEADERS ${_zeb_interface_headers}
  platform/com/Activation.h
  platform/com/TaskAllocator.h
  platform/win/Registry.h
  platform/win/Module.h
  platform/win/TextConvert.h
  platform/storage/Storage.h
  platform/xml/XmlDomInterfaces.h)
foreach(header IN LISTS ZEB_PUBLIC_HEADERS)
  get_filename_component(folder ${header} DIRECTORY)
  install(FILES ${CMAKE_SOURCE_DIR}/${header} DESTINATION ${ZEB_INSTALL_INCLUDEDIR}/${folder})
endforeach()

set(_zeb_installed_libraries zebcom k4bi00tx k4wtrcax k4toolax k4bt03ax k4bt09ax zebsamples)
foreach(target IN LISTS _zeb_installed_libraries)
  if(TARGET ${target})
    install(TARGETS ${target} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  endif()
endforeach()

if(TARGET zebinst)
  file(RELATIVE_PATH _zeb_bin_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
  set_target_properties(zebinst PROPERTIES INSTALL_RPATH "$ORIGIN/${_zeb_bin_to_lib}")
  install(TARGETS zebinst RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(FILES ${CMAKE_SOURCE_DIR}/is/xml/stylesheets/k4bi00tx_tf.xsl
              ${CMAKE_SOURCE_DIR}/is/xml/stylesheets/k4bi00tx_tfb.xsl
        DESTINATION ${CMAKE_INSTALL_DATADIR}/zeb/stylesheets)

# zeb.pc is written at install time, so that it names the prefix installed
# to (`cmake --install --prefix P` decides it then, not at configure time).
install(CODE "
  set(_zeb_pc_in \"${CMAKE_CURRENT_LIST_DIR}/zeb.pc.in\")
  set(ZEB_PC_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
  set(ZEB_PC_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
  set(ZEB_PC_INCLUDEDIR \"${ZEB_INSTALL_INCLUDEDIR}\")
  set(ZEB_PC_DATADIR \"${CMAKE_INSTALL_DATADIR}\")
  set(ZEB_PC_VERSION \"${ZEB_VERSION}\")
")
install(CODE [[
  set(ZEB_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(_zeb_pc "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${ZEB_PC_LIBDIR}/pkgconfig/zeb.pc")
  message(STATUS "Installing: ${_zeb_pc}")
  configure_file("${_zeb_pc_in}" "${_zeb_pc}" @ONLY)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${_zeb_pc}")
]])
