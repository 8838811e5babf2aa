# Reference proxies (tests/peers/ref_proxies.py: tinyproxy, dante's sockd, an HTTP target)
# on ephemeral ports of 127.0.0.1 with generated configurations, and curl's fetches through
# them and through squid and microsocks of the proxy peers; then the proxy layers' fetches
# of the same (RefProxy.*), compared with curl's.
set(va_ref_proxies ${CMAKE_CURRENT_SOURCE_DIR}/peers/ref_proxies.py)
set(va_ref_dir ${CMAKE_CURRENT_BINARY_DIR}/ref-proxies)
add_test(NAME net_ref_proxies_start COMMAND ${VA_PYTHON3} ${va_ref_proxies} start ${va_ref_dir})
add_test(NAME net_ref_proxies_stop COMMAND ${VA_PYTHON3} ${va_ref_proxies} stop ${va_ref_dir})
set_tests_properties(net_ref_proxies_start PROPERTIES FIXTURES_SETUP net_ref_proxies)
set_tests_properties(net_ref_proxies_stop PROPERTIES FIXTURES_CLEANUP net_ref_proxies)
add_test(NAME net_ref_curl
         COMMAND ${VA_PYTHON3} ${va_ref_proxies} curl ${va_ref_dir} ${CMAKE_CURRENT_BINARY_DIR}/proxy-peers)
set_tests_properties(net_ref_curl PROPERTIES FIXTURES_SETUP net_ref_curl
                     FIXTURES_REQUIRED "net_ref_proxies;net_proxy_peers" TIMEOUT 300)
add_test(NAME net_ref_proxy_layers COMMAND net_tests --gtest_filter=RefProxy.*)
set_tests_properties(net_ref_proxy_layers PROPERTIES
                     FIXTURES_REQUIRED "net_ref_proxies;net_ref_curl;net_proxy_peers"
                     ENVIRONMENT "VA_REF_PROXIES=1" TIMEOUT 300)
