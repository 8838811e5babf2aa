# OpenSSL checks of the net test: stub DLLs in several shapes for the loader, and a CTest
# fixture that makes certificates, keys and a CRL with the host's openssl command, which also
# writes what it reads from them for the test to compare with.

# va_openssl_stub(<target> <folder> <dll name> <version> <flags...>)
function(va_openssl_stub target folder dll version)
  add_library(${target} SHARED ${CMAKE_CURRENT_SOURCE_DIR}/net/openssl/OpenSslStub.c)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_definitions(${target} PRIVATE STUB_VERSION=${version} ${ARGN})
  set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ${dll}
                        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/openssl-stubs/${folder}
                        ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/openssl-stubs/${folder}/lib)
  add_dependencies(net_tests ${target})
endfunction()

# A 1.1.1 pair with every required name and none of the optional ones.
va_openssl_stub(stub111_crypto v111 libcrypto-1_1-x64 0x1010117FUL STUB_CRYPTO STUB_CRYPTO_REQUIRED)
va_openssl_stub(stub111_ssl v111 libssl-1_1-x64 0x1010117FUL STUB_SSL_REQUIRED)
# Versions outside the accepted range.
va_openssl_stub(stub110_crypto v110 libcrypto-1_1-x64 0x1010007FUL STUB_CRYPTO)
va_openssl_stub(stub4_crypto v4 libcrypto-3-x64 0x40000000UL STUB_CRYPTO)
# A 3.x libcrypto that exports nothing but its version.
va_openssl_stub(stubbare_crypto bare libcrypto-3-x64 0x30000020UL STUB_CRYPTO)
# Complete 3.x and 1.1.1 pairs in one folder, for the version switches.
va_openssl_stub(stubboth3_crypto both libcrypto-3-x64 0x30000020UL STUB_CRYPTO STUB_CRYPTO_REQUIRED STUB_V3)
va_openssl_stub(stubboth3_ssl both libssl-3-x64 0x30000020UL STUB_SSL_REQUIRED STUB_V3)
va_openssl_stub(stubboth111_crypto both libcrypto-1_1-x64 0x1010117FUL STUB_CRYPTO STUB_CRYPTO_REQUIRED)
va_openssl_stub(stubboth111_ssl both libssl-1_1-x64 0x1010117FUL STUB_SSL_REQUIRED)
# A complete 1.1.1 libcrypto without its libssl.
va_openssl_stub(stubnossl_crypto nossl libcrypto-1_1-x64 0x1010117FUL STUB_CRYPTO STUB_CRYPTO_REQUIRED)

add_test(NAME net_openssl_certs
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/net/openssl/make_certs.sh
                 ${CMAKE_CURRENT_BINARY_DIR}/net-certs)
set_tests_properties(net_openssl_certs PROPERTIES FIXTURES_SETUP net_certs)
set_tests_properties(net PROPERTIES FIXTURES_REQUIRED net_certs)
# The tests add their CA to the Windows ROOT store of the prefix.
target_link_libraries(net_tests PRIVATE crypt32)
add_test(NAME net_openssl_written
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/net/openssl/check_written.sh
                 ${CMAKE_CURRENT_BINARY_DIR}/net-output/written.pem ${CMAKE_CURRENT_BINARY_DIR}/net-certs)
set_tests_properties(net_openssl_written PROPERTIES FIXTURES_REQUIRED "net_output;net_certs")
