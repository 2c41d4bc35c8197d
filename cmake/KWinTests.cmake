# The tests of the KWin reader, included from tests/CMakeLists.txt.
add_executable(kwin_reader_tests ${CMAKE_CURRENT_SOURCE_DIR}/kwin_reader_test.cpp)
target_link_libraries(kwin_reader_tests PRIVATE vellomar_winsys_kwin GTest::gtest_main)
vellomar_warnings(kwin_reader_tests)
vellomar_add_gtest(kwin_reader_tests kwin_reader_tests)
set_tests_properties(kwin_reader_tests PROPERTIES LABELS unit)

# The session tests run a headless KWin, which needs KWin's fake-input protocol
# (plasma-wayland-protocols, wayland-scanner) to move the pointer, and a native Wayland window of
# its own. Where they are wanted, what they need must be there: scripts/setup.sh test installs it.
option(VELLOMAR_KWIN_TESTS "Build the tests that run velmo under a headless KWin" ON)
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
if(NOT WAYLAND_SCANNER OR NOT KWIN_FAKE_INPUT_XML OR NOT WAYLAND_CLIENT_FOUND)
    message(FATAL_ERROR "The KWin tests need wayland-scanner, wayland-client and "
                        "plasma-wayland-protocols (scripts/setup.sh test installs them), or "
                        "-DVELLOMAR_KWIN_TESTS=OFF")
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

# The headless KWin, and where its helpers are, for the tests and the benchmarks.
add_library(vellomar_kwin_session STATIC support/kwin_session.cpp support/kwin_session.h)
target_link_libraries(vellomar_kwin_session PUBLIC vellomar_test_support)
target_compile_definitions(vellomar_kwin_session PUBLIC
                           VELLOMAR_KWIN_INPUT="$<TARGET_FILE:kwin_input>"
                           VELLOMAR_WAYLAND_WINDOW="$<TARGET_FILE:wayland_window>")
add_dependencies(vellomar_kwin_session kwin_input wayland_window)
vellomar_warnings(vellomar_kwin_session)

add_executable(kwin_reader_session_test kwin_reader_session_test.cpp)
target_link_libraries(kwin_reader_session_test PRIVATE vellomar_winsys_kwin vellomar_kwin_session
                      X11::X11 GTest::gtest_main)
vellomar_warnings(kwin_reader_session_test)
vellomar_add_gtest(kwin_reader_session_test kwin_reader_session_test)
set_tests_properties(kwin_reader_session_test PROPERTIES LABELS kwin)

# The real velmo under the headless KWin, with a native window and X11 windows.
add_executable(velmo_kwin_test e2e/velmo_kwin_test.cpp)
target_link_libraries(velmo_kwin_test PRIVATE vellomar_kwin_session vellomar_velmo_session
                      X11::X11 GTest::gtest_main)
vellomar_warnings(velmo_kwin_test)
vellomar_add_gtest(velmo_kwin_test velmo_kwin_test)
set_tests_properties(velmo_kwin_test PROPERTIES LABELS kwin)
