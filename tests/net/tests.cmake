# Checks of the net test beyond the Windows test itself: independent implementations read
# what the test wrote (openssl for DES, python's base64, idna and codecs).
set_tests_properties(net PROPERTIES FIXTURES_SETUP net_output)

find_program(VA_PYTHON3 python3 REQUIRED)
add_test(NAME net_des_openssl
         COMMAND ${VA_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/net/check_des.py
                 ${CMAKE_CURRENT_BINARY_DIR}/net-output/des.txt)
set_tests_properties(net_des_openssl PROPERTIES FIXTURES_REQUIRED net_output)
add_test(NAME net_base64_python
         COMMAND ${VA_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/net/check_base64.py
                 ${CMAKE_CURRENT_BINARY_DIR}/net-output/base64.txt)
set_tests_properties(net_base64_python PROPERTIES FIXTURES_REQUIRED net_output)

# Dates and the local bias under zones with odd offsets and no daylight saving, so the
# expected bias does not depend on the day the tests run.
foreach(zone "Asia/Kolkata;-330;+0530" "Asia/Kathmandu;-345;+0545" "Pacific/Honolulu;600;-1000" "UTC;0;+0000")
  list(GET zone 0 tz)
  list(GET zone 1 bias)
  list(GET zone 2 text)
  string(REPLACE "/" "_" name "${tz}")
  add_test(NAME net_tz_${name} COMMAND net_tests --gtest_filter=InetTime.*)
  set_tests_properties(net_tz_${name} PROPERTIES
                       ENVIRONMENT "TZ=${tz};VA_TZ_BIAS=${bias};VA_TZ_TEXT=${text}" TIMEOUT 120)
endforeach()
add_test(NAME net_codepages_python
         COMMAND ${VA_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/net/check_codepages.py
                 ${CMAKE_CURRENT_BINARY_DIR}/net-output/codepages.txt)
set_tests_properties(net_codepages_python PROPERTIES FIXTURES_REQUIRED net_output)
add_test(NAME net_idn_python
         COMMAND ${VA_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/net/check_idn.py
                 ${CMAKE_CURRENT_BINARY_DIR}/net-output/idn.txt)
set_tests_properties(net_idn_python PROPERTIES FIXTURES_REQUIRED net_output)

# nginx's Date header, read by the date parser within two seconds of the clock. The peer
# runs on a free port on 127.0.0.1 and is stopped after the test; the zone makes the local
# bias count.
set(nginx_dir ${CMAKE_CURRENT_BINARY_DIR}/peers/nginx-date)
add_test(NAME net_peer_nginx_start
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/peers/nginx/start.sh ${nginx_dir}
                 ${CMAKE_CURRENT_BINARY_DIR}/net-output/nginx.port)
add_test(NAME net_peer_nginx_stop COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/peers/nginx/stop.sh ${nginx_dir})
set_tests_properties(net_peer_nginx_start PROPERTIES FIXTURES_SETUP net_nginx)
set_tests_properties(net_peer_nginx_stop PROPERTIES FIXTURES_CLEANUP net_nginx)
add_test(NAME net_http_date COMMAND net_tests --gtest_filter=HttpDatePeer.*)
set_tests_properties(net_http_date PROPERTIES FIXTURES_REQUIRED net_nginx ENVIRONMENT "VA_NGINX_PEER=1;TZ=Asia/Kolkata" TIMEOUT 120)

include(${CMAKE_CURRENT_SOURCE_DIR}/net/openssl/openssl.cmake)

# Local peers of the socket tests.
include(${CMAKE_CURRENT_SOURCE_DIR}/net/sockets.cmake)

# The HTTP client's peer.
include(${CMAKE_CURRENT_SOURCE_DIR}/net/http.cmake)

# The HTTP client's authentication peer.
include(${CMAKE_CURRENT_SOURCE_DIR}/net/auth.cmake)

# TLS peers (openssl s_server, socat, a driver for clients of our TLS server) on ephemeral
# ports of 127.0.0.1, with the certificates of the certificate fixture.
set(va_tls_peers ${CMAKE_CURRENT_SOURCE_DIR}/peers/tls/tls_peers.py)
add_test(NAME net_tls_peers_start
         COMMAND ${VA_PYTHON3} ${va_tls_peers} start ${CMAKE_CURRENT_BINARY_DIR}/net-tls-peers
                 ${CMAKE_CURRENT_BINARY_DIR}/net-certs)
add_test(NAME net_tls_peers_stop
         COMMAND ${VA_PYTHON3} ${va_tls_peers} stop ${CMAKE_CURRENT_BINARY_DIR}/net-tls-peers)
set_tests_properties(net_tls_peers_start PROPERTIES FIXTURES_SETUP net_tls_peers FIXTURES_REQUIRED net_certs)
set_tests_properties(net_tls_peers_stop PROPERTIES FIXTURES_CLEANUP net_tls_peers)
set_property(TEST net APPEND PROPERTY FIXTURES_REQUIRED net_tls_peers)

# Reference proxies and curl as the reference client of the proxy layers.
include(${CMAKE_CURRENT_SOURCE_DIR}/net/refproxies.cmake)
