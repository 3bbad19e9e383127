# Installing Sorrel (cmake --install) and its Debian package (cpack -G DEB), set up in this
# one place. Included before the folders, so each folder can install what it builds:
#
#   sorrel_install_program(<target>)   a program into bin/, finding Sorrel's libraries
#   sorrel_install_library(<target>)   a shared library beside Sorrel's own
#   sorrel_add_shipped_twin(<target>)  <target>_shipped: <target> without its test support
#   install(... DESTINATION ${SORREL_INSTALL_DATADIR}/...)   data of Sorrel's
#
# Everything installed goes into the one package; dpkg-shlibdeps computes its dependencies
# from the binaries (a folder adds what it cannot see to the global property
# SORREL_PACKAGE_DEPENDS), and the maintainer scripts in cmake/debian add the sorrel group and the
# machine-wide settings folder.

include(GNUInstallDirs)

# /usr/lib/<triplet>/sorrel on Debian whatever the prefix, so the package and a hand install
# lay the libraries out alike.
if(CMAKE_LIBRARY_ARCHITECTURE)
  set(SORREL_INSTALL_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE}/sorrel)
else()
  set(SORREL_INSTALL_LIBDIR lib/sorrel)
endif()
set(SORREL_INSTALL_DATADIR ${CMAKE_INSTALL_DATADIR}/sorrel)
# The machine-wide board service's socket: its systemd unit's and where clients look for it.
set(SORREL_MACHINE_SOCKET /run/sorrel/board.sock)

function(sorrel_install_program target)
  set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN/../${SORREL_INSTALL_LIBDIR}")
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endfunction()

function(sorrel_install_library target)
  set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN")
  install(TARGETS ${target} LIBRARY DESTINATION ${SORREL_INSTALL_LIBDIR} NAMELINK_SKIP)
endfunction()

# A shared library that carries test support in the build tree: <target> is the object library
# <target>_parts (which brings everything the parts need) plus the test support; this adds
# <target>_shipped, the parts alone under the same file name, which is what gets installed in
# its place. Each process loads one of them, so the library's process-wide state stays one.
function(sorrel_add_shipped_twin target)
  target_link_libraries(${target} PRIVATE ${target}_parts)
  add_library(${target}_shipped SHARED)
  target_link_libraries(${target}_shipped PRIVATE ${target}_parts)
  set_target_properties(${target}_shipped PROPERTIES OUTPUT_NAME ${target} LINKER_LANGUAGE CXX
                        LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib/shipped)
endfunction()

# What Sorrel itself installs, and its package; called once every target exists.
function(sorrel_install_system)
  foreach(library OrvBoard KiteBoard WrenBoard pci_shipped ui)
    sorrel_install_library(${library})
  endforeach()
  if(TARGET Sorrel)
    sorrel_install_library(ui_qt_shipped)
    sorrel_install_program(Sorrel)
  endif()
  sorrel_install_program(sorrel-samples)
  install(DIRECTORY ${CMAKE_BINARY_DIR}/share/sorrel/samples ${CMAKE_BINARY_DIR}/share/sorrel/help
          DESTINATION ${SORREL_INSTALL_DATADIR})
  install(FILES ${CMAKE_BINARY_DIR}/share/doc/sorrel/real-card.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/sorrel)
  install(FILES ${CMAKE_SOURCE_DIR}/Sorrel/sorrel.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  # The menu's start makes its own working folder, wherever the package puts the samples.
  install(FILES ${CMAKE_SOURCE_DIR}/cmake/sorrel.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  # The machine-wide board service, on the socket the clients look for after their own.
  configure_file(${CMAKE_SOURCE_DIR}/cmake/sorrel-board.service.in ${CMAKE_BINARY_DIR}/sorrel-board.service @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/sorrel-board.service DESTINATION lib/systemd/system)

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME sorrel)
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_PACKAGE_CONTACT "Sorrel developers <sorrel@localhost>")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "controller for a spatial light modulator on a PCI driver board")
  set(CPACK_PACKAGE_DESCRIPTION "Sorrel composes frames from pattern, compensation and lookup-table files, downloads them into the frame memory of a Kite or Wren SLM driver board and runs them at a chosen frame rate, with a live view of what the SLM shows. Without a card it drives a simulated board; with one bound to vfio-pci it drives the card.")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION science)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The package's own libraries satisfy each other; dpkg-shlibdeps finds them here.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/lib)
  # groupadd, for the sorrel group the maintainer scripts add; and what folders add for
  # what dpkg-shlibdeps cannot see (the Python module's interpreter).
  get_property(extra GLOBAL PROPERTY SORREL_PACKAGE_DEPENDS)
  list(PREPEND extra passwd)
  list(JOIN extra ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/cmake/debian/postinst ${CMAKE_SOURCE_DIR}/cmake/debian/prerm
      ${CMAKE_SOURCE_DIR}/cmake/debian/postrm)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/package)
  include(CPack)
endfunction()
