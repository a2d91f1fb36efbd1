# The GUI: the `lvgl` command with its LVGL port, the shared services of the
# screens (translation, message boxes, run_cmd, styles, builders), the main
# screen and the adapter poll.
#
#   zel_app_gui       everything that runs in the GUI process, built against
#                     the layer's own C library headers;
#   zel_app_gui_text  the language packs, their look-up and the fonts (built
#                     with the host's headers: they use no C library).
# The job screens add their sources to zel_app_gui from screens/screens.cmake.
#
# Only the product links the GUI (app/CMakeLists.txt): it is the program that opens the window.
# Test programs that boot the system (the shell harness, zel-console) run
# the start-up script's "lvgl &" without it; the GUI's own tests link both
# libraries themselves.
set(_gui ${CMAKE_CURRENT_LIST_DIR})
set(_app ${CMAKE_CURRENT_LIST_DIR}/..)

add_library(zel_app_gui_text OBJECT
  ${_gui}/i18n.cpp
  ${_app}/i18n_packs.cpp
  ${_app}/fonts/app_font_19.cpp
  ${_app}/fonts/app_font_15.cpp)
target_include_directories(zel_app_gui_text PUBLIC ${_gui} ${_app} ${_app}/fonts)
target_link_libraries(zel_app_gui_text PUBLIC lvgl)
lvgl_font_sources(${_app}/fonts/app_font_19.cpp ${_app}/fonts/app_font_15.cpp)
zel_target_warnings(zel_app_gui_text)

add_library(zel_app_gui OBJECT
  ${_gui}/adapter_poll.cpp
  ${_gui}/lvgl_disp_port.cpp
  ${_gui}/lvgl_gui.cpp
  ${_gui}/lvgl_input.cpp
  ${_gui}/lvgl_keys.cpp
  ${_gui}/main_screen.cpp
  ${_gui}/msgbox.cpp
  ${_gui}/run_cmd.cpp
  ${_gui}/ui_build.cpp
  ${_gui}/ui_screen_failed.cpp
  ${_gui}/ui_styles.cpp
  ${_gui}/window_close.cpp)
target_include_directories(zel_app_gui PUBLIC ${_gui} ${_app} ${_app}/fonts)
target_link_libraries(zel_app_gui PRIVATE zel_linux_libc)
target_link_libraries(zel_app_gui PUBLIC lvgl zel_linux_shell zel_linux zel_kernel zel_host_drivers)
zel_target_warnings(zel_app_gui)
