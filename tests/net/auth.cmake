# The HTTP client's authentication peer (tests/peers/auth_peer.py): a web server asking for
# Basic, Digest and NTLM credentials, over HTTP and over HTTPS with the net test's server
# certificate, on ephemeral ports of 127.0.0.1; the test reads net-auth-peer/ports.txt.
set(va_auth_peer ${CMAKE_CURRENT_SOURCE_DIR}/peers/auth_peer.py)
add_test(NAME net_auth_peer_start
         COMMAND ${VA_PYTHON3} ${va_auth_peer} start ${CMAKE_CURRENT_BINARY_DIR}/net-auth-peer
                 ${CMAKE_CURRENT_BINARY_DIR}/net-certs)
add_test(NAME net_auth_peer_stop COMMAND ${VA_PYTHON3} ${va_auth_peer} stop ${CMAKE_CURRENT_BINARY_DIR}/net-auth-peer)
set_tests_properties(net_auth_peer_start PROPERTIES FIXTURES_SETUP net_auth_peer FIXTURES_REQUIRED net_certs)
set_tests_properties(net_auth_peer_stop PROPERTIES FIXTURES_CLEANUP net_auth_peer)
set_property(TEST net APPEND PROPERTY FIXTURES_REQUIRED net_auth_peer)

# curl as the reference client on the same peer and through squid: the answers it gets
# and the round trips squid logs for it.
add_test(NAME net_auth_curl
         COMMAND ${VA_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/net/check_auth_curl.py
                 ${CMAKE_CURRENT_BINARY_DIR}/net-auth-peer ${CMAKE_CURRENT_BINARY_DIR}/proxy-peers
                 ${CMAKE_CURRENT_BINARY_DIR}/net-certs)
set_tests_properties(net_auth_curl PROPERTIES FIXTURES_REQUIRED "net_auth_peer;net_proxy_peers;net_certs")
