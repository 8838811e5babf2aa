# The HTTP client's byte-exact peer (tests/peers/http_peer.py) on an ephemeral port of
# 127.0.0.1, started before the net test and stopped after it; the test reads the port from
# net-http-peer/port in its working folder.
set(va_http_peer ${CMAKE_CURRENT_SOURCE_DIR}/peers/http_peer.py)
add_test(NAME net_http_peer_start COMMAND ${VA_PYTHON3} ${va_http_peer} start ${CMAKE_CURRENT_BINARY_DIR}/net-http-peer)
add_test(NAME net_http_peer_stop COMMAND ${VA_PYTHON3} ${va_http_peer} stop ${CMAKE_CURRENT_BINARY_DIR}/net-http-peer)
set_tests_properties(net_http_peer_start PROPERTIES FIXTURES_SETUP net_http_peer)
set_tests_properties(net_http_peer_stop PROPERTIES FIXTURES_CLEANUP net_http_peer)
set_property(TEST net APPEND PROPERTY FIXTURES_REQUIRED net_http_peer)

# nginx as the reference server, curl as the reference client.
set(va_nginx_http ${CMAKE_CURRENT_BINARY_DIR}/peers/nginx-http)
add_test(NAME net_nginx_http_start
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/peers/nginx/http_site.sh ${va_nginx_http} ${va_nginx_http}/port)
add_test(NAME net_nginx_http_stop COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/peers/nginx/stop.sh ${va_nginx_http})
set_tests_properties(net_nginx_http_start PROPERTIES FIXTURES_SETUP net_nginx_http)
set_tests_properties(net_nginx_http_stop PROPERTIES FIXTURES_CLEANUP net_nginx_http)
add_test(NAME net_http_nginx COMMAND net_tests --gtest_filter=HttpNginx.*)
set_tests_properties(net_http_nginx PROPERTIES FIXTURES_REQUIRED net_nginx_http FIXTURES_SETUP net_http_bodies
                     ENVIRONMENT "VA_NGINX_HTTP=1" TIMEOUT 180)
add_test(NAME net_http_curl COMMAND ${VA_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/net/check_http_curl.py ${va_nginx_http})
set_tests_properties(net_http_curl PROPERTIES FIXTURES_REQUIRED "net_nginx_http;net_http_bodies")
