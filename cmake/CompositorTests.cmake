# The tests of the KWin reader, included from tests/CMakeLists.txt.
add_executable(kwin_reader_tests ${CMAKE_CURRENT_SOURCE_DIR}/kwin_reader_test.cpp)
target_link_libraries(kwin_reader_tests PRIVATE vellomar_winsys_kwin GTest::gtest_main)
vellomar_warnings(kwin_reader_tests)
vellomar_add_gtest(kwin_reader_tests kwin_reader_tests)
set_tests_properties(kwin_reader_tests PROPERTIES LABELS unit)

# The session tests run a headless KWin, which needs KWin's fake-input protocol
# (plasma-wayland-protocols, wayland-scanner) to move the pointer, and a native Wayland window of
# its own; and a headless GNOME Shell, driven through gjs. Where they are wanted, what they need
# must be there: scripts/setup.sh test installs it.
option(VELLOMAR_KWIN_TESTS "Build the tests that run velmo under a headless KWin and GNOME Shell"
       ON)
if(NOT VELLOMAR_KWIN_TESTS)
    return()
endif()
find_program(WAYLAND_SCANNER wayland-scanner)
find_file(KWIN_FAKE_INPUT_XML fake-input.xml PATHS /usr/share/plasma-wayland-protocols
          NO_DEFAULT_PATH)
find_package(PkgConfig)
if(PKG_CONFIG_FOUND)
    pkg_check_modules(WAYLAND_CLIENT IMPORTED_TARGET wayland-client)
endif()
find_program(GNOME_SHELL gnome-shell)
find_program(GJS gjs)
if(NOT WAYLAND_SCANNER OR NOT KWIN_FAKE_INPUT_XML OR NOT WAYLAND_CLIENT_FOUND OR NOT GNOME_SHELL
   OR NOT GJS)
    message(FATAL_ERROR "The compositor tests need wayland-scanner, wayland-client, "
                        "plasma-wayland-protocols, gnome-shell and gjs (scripts/setup.sh test "
                        "installs them), or -DVELLOMAR_KWIN_TESTS=OFF")
endif()
set(fake_input ${CMAKE_CURRENT_BINARY_DIR}/fake-input)
add_custom_command(OUTPUT ${fake_input}-client-protocol.h ${fake_input}-protocol.c
                   COMMAND ${WAYLAND_SCANNER} client-header ${KWIN_FAKE_INPUT_XML}
                           ${fake_input}-client-protocol.h
                   COMMAND ${WAYLAND_SCANNER} private-code ${KWIN_FAKE_INPUT_XML}
                           ${fake_input}-protocol.c
                   DEPENDS ${KWIN_FAKE_INPUT_XML})
enable_language(C)
add_executable(kwin_input support/kwin_input.cpp ${fake_input}-client-protocol.h
               ${fake_input}-protocol.c)
target_include_directories(kwin_input PRIVATE ${CMAKE_CURRENT_BINARY_DIR})
target_link_libraries(kwin_input PRIVATE PkgConfig::WAYLAND_CLIENT)
# Our warnings for our source; the generated C glue is compiled as it comes.
target_compile_options(kwin_input PRIVATE
                       $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra -Wpedantic -Wshadow -Werror>)

find_package(Qt6 6.4 REQUIRED COMPONENTS Widgets)
add_executable(wayland_window support/wayland_window.cpp)
target_link_libraries(wayland_window PRIVATE Qt6::Widgets)
vellomar_warnings(wayland_window)

# The headless KWin or GNOME Shell, and where their helpers are, for the tests and the
# benchmarks.
add_library(vellomar_compositor_session STATIC support/compositor_session.cpp
            support/compositor_session.h)
target_link_libraries(vellomar_compositor_session PUBLIC vellomar_test_support)
target_compile_definitions(vellomar_compositor_session PUBLIC
                           VELLOMAR_KWIN_INPUT="$<TARGET_FILE:kwin_input>"
                           VELLOMAR_WAYLAND_WINDOW="$<TARGET_FILE:wayland_window>"
                           VELLOMAR_GNOME_EXTENSIONS_DIR="${VELLOMAR_GNOME_EXTENSIONS_DIR}"
                           VELLOMAR_REMOTE_INPUT="${CMAKE_CURRENT_SOURCE_DIR}/gnome/remote_input.js"
                           VELLOMAR_EVAL_HELPER_DIR="${CMAKE_CURRENT_SOURCE_DIR}/gnome/eval_helper")
add_dependencies(vellomar_compositor_session kwin_input wayland_window)
vellomar_warnings(vellomar_compositor_session)

add_executable(kwin_reader_session_test kwin_reader_session_test.cpp)
target_link_libraries(kwin_reader_session_test PRIVATE vellomar_winsys_kwin vellomar_compositor_session
                      X11::X11 GTest::gtest_main)
vellomar_warnings(kwin_reader_session_test)
vellomar_add_gtest(kwin_reader_session_test kwin_reader_session_test)
set_tests_properties(kwin_reader_session_test PROPERTIES LABELS kwin)

# The real velmo under the headless KWin and GNOME Shell, with a native window and X11 windows:
# one source, built for each.
foreach(compositor kwin gnome)
    add_executable(velmo_${compositor}_test e2e/velmo_compositor_test.cpp)
    target_link_libraries(velmo_${compositor}_test PRIVATE vellomar_compositor_session
                          vellomar_velmo_session X11::X11 GTest::gtest_main)
    target_compile_definitions(velmo_${compositor}_test
                               PRIVATE VELLOMAR_ON_GNOME=$<STREQUAL:${compositor},gnome>)
    vellomar_warnings(velmo_${compositor}_test)
    vellomar_add_gtest(velmo_${compositor}_test velmo_${compositor}_test)
    set_tests_properties(velmo_${compositor}_test PROPERTIES LABELS ${compositor})
endforeach()

# velmo's Shell extension in the headless GNOME Shell, checked by a client of its own.
add_executable(gnome_extension_check gnome/extension_check_test.cpp)
target_link_libraries(gnome_extension_check PRIVATE vellomar_compositor_session X11::X11
                      GTest::gtest_main)
target_compile_definitions(gnome_extension_check PRIVATE
    VELLOMAR_EXTENSION_CHECK="${CMAKE_CURRENT_SOURCE_DIR}/gnome/extension_check.py"
    VELLOMAR_NATIVE_WINDOW_JS="${CMAKE_CURRENT_SOURCE_DIR}/gnome/native_window.js"
    VELLOMAR_CHECK_OUTPUT_DIR="${CMAKE_CURRENT_BINARY_DIR}/gnome/output")
vellomar_warnings(gnome_extension_check)
vellomar_add_gtest(gnome_extension_check gnome_extension_check)
set_tests_properties(gnome_extension_check PROPERTIES LABELS gnome)
