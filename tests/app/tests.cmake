# The program itself, started without a display: it must end with its own report and exit
# code 1 instead of terminate.
add_test(NAME app_no_display COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/app/no_display.sh $<TARGET_FILE:VoltAtlas>)
set_tests_properties(app_no_display PROPERTIES TIMEOUT 300)

# The program's file, as Wine loads it at a start: what it imports at once, and no debug
# information inside.
add_test(NAME app_startup_imports COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/app/startup_imports.sh $<TARGET_FILE:VoltAtlas>)
set_tests_properties(app_startup_imports PROPERTIES ENVIRONMENT "OBJDUMP=${CMAKE_OBJDUMP}")

# The maker's web server for the main window's commands (tests/peers/maker_peer.py) on an
# ephemeral port of 127.0.0.1, started before the app test and stopped after it; the test
# reads the port from app-maker-peer/port in its working folder.
find_program(VA_PYTHON3 python3 REQUIRED)
set(va_maker_peer ${CMAKE_CURRENT_SOURCE_DIR}/peers/maker_peer.py)
add_test(NAME app_maker_peer_start COMMAND ${VA_PYTHON3} ${va_maker_peer} start ${CMAKE_CURRENT_BINARY_DIR}/app-maker-peer)
add_test(NAME app_maker_peer_stop COMMAND ${VA_PYTHON3} ${va_maker_peer} stop ${CMAKE_CURRENT_BINARY_DIR}/app-maker-peer)
set_tests_properties(app_maker_peer_start PROPERTIES FIXTURES_SETUP app_maker_peer)
set_tests_properties(app_maker_peer_stop PROPERTIES FIXTURES_CLEANUP app_maker_peer)
set_property(TEST app APPEND PROPERTY FIXTURES_REQUIRED app_maker_peer)

# The first activation without the OpenSSL DLLs: a process of its own, where nothing has
# loaded OpenSSL before the test points the loader at an empty folder.
add_test(NAME app_without_openssl COMMAND app_tests --gtest_filter=MainDlgWithoutOpenSsl.*)
set_tests_properties(app_without_openssl PROPERTIES FIXTURES_REQUIRED app_maker_peer
                     ENVIRONMENT "VA_APP_WITHOUT_OPENSSL=1" TIMEOUT 300)

# The update tests' HTTPS stand-in of the server (tests/update/tests.cmake), for the check
# through the main window over verified TLS.
set_property(TEST app APPEND PROPERTY FIXTURES_REQUIRED "update_certs;update_peer")
target_link_libraries(app_tests PRIVATE crypt32)
