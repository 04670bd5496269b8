# The Options dialog and the hot-plug watcher, included from app/CMakeLists.txt.
if(NOT KESTREL_BUILD_GUI)
  return()
endif()

find_package(Qt6 REQUIRED COMPONENTS Core Widgets)
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBUDEV REQUIRED IMPORTED_TARGET libudev)

add_library(kestrel_options_dlg STATIC options_dlg.cpp options_dlg.h dialog_units.cpp)
set_target_properties(kestrel_options_dlg PROPERTIES AUTOMOC ON)
target_include_directories(kestrel_options_dlg PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/..)
target_link_libraries(kestrel_options_dlg PUBLIC Qt6::Widgets kestrel_settings kestrel_serial)

# Only port_watcher_udev.cpp sees libudev; the watcher itself runs on any event source.
add_library(kestrel_port_watcher STATIC port_watcher.cpp port_watcher.h port_watcher_source.h port_watcher_udev.cpp)
set_target_properties(kestrel_port_watcher PROPERTIES AUTOMOC ON)
target_include_directories(kestrel_port_watcher PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/..)
target_link_libraries(kestrel_port_watcher PUBLIC Qt6::Core PRIVATE PkgConfig::LIBUDEV)
