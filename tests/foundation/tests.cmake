# Checks of the foundation test beyond the Windows test itself:
#  - python3 reads back what the test wrote (settings.ini, ANSI and UTF-16, with configparser,
#    URL encoding with urllib.parse.quote), as readers that share no code with ours;
#  - the OS-facts test again under several Windows versions of Wine.
set_tests_properties(foundation PROPERTIES FIXTURES_SETUP foundation_output)

find_program(VA_PYTHON3 python3 REQUIRED)
add_test(NAME foundation_settings_ini
         COMMAND ${VA_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/foundation/check_settings_ini.py
                 ${CMAKE_CURRENT_BINARY_DIR}/foundation-output/settings.ini:cp1252
                 ${CMAKE_CURRENT_BINARY_DIR}/foundation-output/settings-utf16.ini:utf-16)
add_test(NAME foundation_urlencode
         COMMAND ${VA_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/foundation/check_urlencode.py
                 ${CMAKE_CURRENT_BINARY_DIR}/foundation-output/urlencode.txt)
set_tests_properties(foundation_settings_ini foundation_urlencode PROPERTIES FIXTURES_REQUIRED foundation_output)

# Switches the prefix's Windows version, so nothing else may run meanwhile; restores it.
add_test(NAME foundation_os_versions
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/foundation/os_versions.sh $<TARGET_FILE:foundation_tests>)
set_tests_properties(foundation_os_versions PROPERTIES RUN_SERIAL TRUE TIMEOUT 600)
