# The HTTP client's byte-exact peer (tests/peers/http_peer.py) on an ephemeral port of
# 127.0.0.1, started before the net test and stopped after it; the test reads the port from
# net-http-peer/port in its working folder.
set(va_http_peer ${CMAKE_CURRENT_SOURCE_DIR}/peers/http_peer.py)
add_test(NAME net_http_peer_start COMMAND ${VA_PYTHON3} ${va_http_peer} start ${CMAKE_CURRENT_BINARY_DIR}/net-http-peer)
add_test(NAME net_http_peer_stop COMMAND ${VA_PYTHON3} ${va_http_peer} stop ${CMAKE_CURRENT_BINARY_DIR}/net-http-peer)
set_tests_properties(net_http_peer_start PROPERTIES FIXTURES_SETUP net_http_peer)
set_tests_properties(net_http_peer_stop PROPERTIES FIXTURES_CLEANUP net_http_peer)
set_property(TEST net APPEND PROPERTY FIXTURES_REQUIRED net_http_peer)
