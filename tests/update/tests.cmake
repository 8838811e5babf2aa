# Steps of the identification tests beyond the Windows test itself:
#  - the fixture files (resource-only DLLs, PE32 with the i686 tools and PE32+ with the
#    x86_64 ones, and damaged PE files) made from the table in make_fixtures.py;
#  - pefile, an independent reader, checks what the test read from the fixtures and from
#    Wine's own PE files.
find_program(VA_PYTHON3 python3)
find_program(VA_I686_WINDRES i686-w64-mingw32-windres)
find_program(VA_I686_LD i686-w64-mingw32-ld)
find_program(VA_X64_LD x86_64-w64-mingw32-ld)
# Debian's own python3, where python3-pefile lives (a python3 earlier in PATH may lack it).
find_program(VA_SYSTEM_PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(NOT VA_PYTHON3 OR NOT VA_I686_WINDRES OR NOT VA_I686_LD OR NOT VA_X64_LD OR NOT VA_SYSTEM_PYTHON3)
  # A native Windows build has none of the cross tools: the test has no fixtures there.
  message(STATUS "update tests disabled: the fixtures need python3 and the i686/x86_64 MinGW binutils")
  set_tests_properties(update PROPERTIES DISABLED TRUE)
  return()
endif()

set(fixtures ${CMAKE_CURRENT_BINARY_DIR}/update-fixtures)
add_custom_command(
  OUTPUT ${fixtures}/stamp
  COMMAND ${VA_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/update/make_fixtures.py ${fixtures}
          ${VA_I686_WINDRES} ${VA_I686_LD} ${CMAKE_RC_COMPILER} ${VA_X64_LD} ${CMAKE_C_COMPILER}
          ${PROJECT_SOURCE_DIR}/resources/VoltAtlas.rc ${PROJECT_BINARY_DIR}/resources
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/update/make_fixtures.py ${PROJECT_SOURCE_DIR}/resources/VoltAtlas.rc
          ${PROJECT_BINARY_DIR}/resources/VoltAtlasVersion.h
  COMMENT "Identification fixtures")
add_custom_target(update_fixtures DEPENDS ${fixtures}/stamp)
add_dependencies(update_tests update_fixtures VoltAtlas)

# Wine's own 64-bit PE files, read through its Z: drive.
set(VA_WINE_PE_DIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
set_tests_properties(update PROPERTIES
  FIXTURES_SETUP update_output
  ENVIRONMENT "VA_FIXTURES=${fixtures};VA_VOLTATLAS=$<TARGET_FILE:VoltAtlas>;VA_WINE_PE_DIR=${VA_WINE_PE_DIR}")

add_test(NAME update_pefile
         COMMAND ${VA_SYSTEM_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/update/check_pefile.py
                 ${CMAKE_CURRENT_BINARY_DIR}/update-output/identity.tsv)
set_tests_properties(update_pefile PROPERTIES FIXTURES_REQUIRED update_output TIMEOUT 600)

# The maker's web server for the update check and the downloader: a python HTTPS peer on
# ephemeral ports of 127.0.0.1 with certificates made here by openssl (a test CA that the
# test adds to the prefix's ROOT store and removes again, a certificate for another host, a
# self-signed one), plus a plain HTTP port. The test reads update-peer/ports.txt and the
# request lines the peer wrote to update-peer/requests.txt. Nagle is off on its connections,
# as on production servers: an answer's last bytes and the close_notify arrive together.
set(va_update_certs ${CMAKE_CURRENT_BINARY_DIR}/update-certs)
set(va_update_peer ${CMAKE_CURRENT_SOURCE_DIR}/peers/update_peer.py)
add_test(NAME update_certs COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/update/make_certs.sh ${va_update_certs})
add_test(NAME update_peer_start
         COMMAND ${VA_PYTHON3} ${va_update_peer} start ${CMAKE_CURRENT_BINARY_DIR}/update-peer ${va_update_certs} --nodelay)
add_test(NAME update_peer_stop COMMAND ${VA_PYTHON3} ${va_update_peer} stop ${CMAKE_CURRENT_BINARY_DIR}/update-peer)
set_tests_properties(update_certs PROPERTIES FIXTURES_SETUP update_certs)
set_tests_properties(update_peer_start PROPERTIES FIXTURES_SETUP update_peer FIXTURES_REQUIRED update_certs)
set_tests_properties(update_peer_stop PROPERTIES FIXTURES_CLEANUP update_peer)
set_property(TEST update APPEND PROPERTY FIXTURES_REQUIRED "update_certs;update_peer")
target_link_libraries(update_tests PRIVATE crypt32)
