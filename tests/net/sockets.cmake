# The socket tests talk to local peers (tests/peers/socket_peers.py) on ephemeral ports of
# 127.0.0.1, started before the net test and stopped after it; the test reads the ports from
# net-peers/ports.txt in its working folder.
set(va_socket_peers ${CMAKE_CURRENT_SOURCE_DIR}/peers/socket_peers.py)
add_test(NAME net_socket_peers_start
         COMMAND ${VA_PYTHON3} ${va_socket_peers} start ${CMAKE_CURRENT_BINARY_DIR}/net-peers)
add_test(NAME net_socket_peers_stop
         COMMAND ${VA_PYTHON3} ${va_socket_peers} stop ${CMAKE_CURRENT_BINARY_DIR}/net-peers)
set_tests_properties(net_socket_peers_start PROPERTIES FIXTURES_SETUP net_socket_peers)
set_tests_properties(net_socket_peers_stop PROPERTIES FIXTURES_CLEANUP net_socket_peers)
set_property(TEST net APPEND PROPERTY FIXTURES_REQUIRED net_socket_peers)
