# Install layout under the prefix P (`cmake --install build --prefix P`):
#   bin/zorbane-compare, bin/zorbane-compare-cli (when built), bin/zorbane-compare-desktop
#   lib/<multiarch>/zorbane-compare/libzmcbitmap.so  found through the program's RUNPATH
#   share/zorbane-compare/                          stored state, schema store, SQL, layouts/
#   share/zorbane-compare/demo/                     a complete demo working directory
#   share/applications/zorbane-compare.desktop      the menu entry
#   share/icons/hicolor/<n>x<n>/apps/zorbane-compare.png, scalable/apps/zorbane-compare.svg
#   share/doc/zorbane-compare/                      README and docs/: user guide, format pages
# `cmake --install` builds nothing: build the target zmc_installables (or everything) first.
# The Debian package (`cpack -G DEB`, see scripts/package) holds the same files under /usr.

set(ZMC_INSTALL_DATA ${CMAKE_INSTALL_DATADIR}/${ZMC_PACKAGE})
set(ZMC_ICON_SIZES 16 32 48 64 128 256)
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

add_custom_target(zmc_installables)

# The programs; the bitmap support library is loaded by name through the RUNPATH.
set(ZMC_PROGRAMS zorbane-compare)
if(TARGET zorbane-compare-cli)
  list(APPEND ZMC_PROGRAMS zorbane-compare-cli)
endif()
file(RELATIVE_PATH ZMC_LIB_FROM_BIN /p/${CMAKE_INSTALL_BINDIR} /p/${ZMC_INSTALL_PRIVATE_LIB})
set_target_properties(${ZMC_PROGRAMS} PROPERTIES INSTALL_RPATH "$ORIGIN/${ZMC_LIB_FROM_BIN}")
install(TARGETS ${ZMC_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
add_dependencies(zmc_installables ${ZMC_PROGRAMS})
if(TARGET zmcbitmap)
  install(TARGETS zmcbitmap LIBRARY DESTINATION ${ZMC_INSTALL_PRIVATE_LIB} NAMELINK_SKIP)
  add_dependencies(zmc_installables zmcbitmap)
endif()

# The menu entry and its launcher, which starts the program in the user's own working folder.
configure_file(${PROJECT_SOURCE_DIR}/packaging/zorbane-compare-desktop.in
  ${CMAKE_BINARY_DIR}/packaging/zorbane-compare-desktop @ONLY)
install(PROGRAMS ${CMAKE_BINARY_DIR}/packaging/zorbane-compare-desktop DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/zorbane-compare.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

# The icon theme's icon: the vector drawing itself, and PNGs drawn from it at each size.
find_package(Qt6 REQUIRED COMPONENTS Svg)
add_executable(icon_to_png ${PROJECT_SOURCE_DIR}/tools/icon_to_png.cpp)
target_link_libraries(icon_to_png PRIVATE Qt6::Gui Qt6::Svg)
set(ZMC_ICON_SOURCE ${PROJECT_SOURCE_DIR}/packaging/${ZMC_PACKAGE}.svg)
set(ZMC_ICON_DIR ${CMAKE_BINARY_DIR}/packaging/hicolor)
set(ZMC_ICON_FILES)
foreach(size IN LISTS ZMC_ICON_SIZES)
  list(APPEND ZMC_ICON_FILES ${ZMC_ICON_DIR}/${size}x${size}/apps/${ZMC_PACKAGE}.png)
endforeach()
add_custom_command(OUTPUT ${ZMC_ICON_FILES}
  COMMAND icon_to_png ${ZMC_ICON_SOURCE} ${ZMC_ICON_DIR} ${ZMC_PACKAGE} ${ZMC_ICON_SIZES}
  DEPENDS icon_to_png ${ZMC_ICON_SOURCE}
  COMMENT "Drawing the desktop icons" VERBATIM)
add_custom_target(zmc_desktop_icons ALL DEPENDS ${ZMC_ICON_FILES})
add_dependencies(zmc_installables zmc_desktop_icons)
install(DIRECTORY ${ZMC_ICON_DIR}/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
install(FILES ${ZMC_ICON_SOURCE} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# Shared data: the stored state and the schema store found when the working directory and the
# executable's folder have none, the SQL that builds the store, and the demo layouts.
set(ZMC_DEMO_FILES ${ZMC_DEMO_DIR}/OLE29.ctlstate ${ZMC_DEMO_STORE})
file(GLOB ZMC_DEMO_LAYOUTS CONFIGURE_DEPENDS ${ZMC_DEMO_DIR}/*.rpt)
add_dependencies(zmc_installables zmc_demo_store)
install(FILES ${ZMC_DEMO_FILES} ${ZMC_DEMO_DIR}/zorbane-schema.sql ${ZMC_DEMO_DIR}/zorbane-demo.sql
  DESTINATION ${ZMC_INSTALL_DATA})
install(FILES ${ZMC_DEMO_LAYOUTS} DESTINATION ${ZMC_INSTALL_DATA}/layouts)
# The demo working directory: copy it somewhere writable and start the program in the copy.
install(FILES ${ZMC_DEMO_FILES} ${ZMC_DEMO_LAYOUTS} ${ZMC_DEMO_DIR}/Mpdms.dbf DESTINATION ${ZMC_INSTALL_DATA}/demo)

# What a user reads; the reference pages of the printer tests stay in the source tree.
# README's links into docs/ keep working beside it.
set(ZMC_INSTALL_DOC ${CMAKE_INSTALL_DATADIR}/doc/${ZMC_PACKAGE})
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${ZMC_INSTALL_DOC})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs DESTINATION ${ZMC_INSTALL_DOC} PATTERN reference EXCLUDE)

include(${CMAKE_CURRENT_LIST_DIR}/Package.cmake)
