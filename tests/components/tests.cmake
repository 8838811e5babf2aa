# Checks of the picture units beyond the Windows test itself: readers that share no code
# with ours (PIL, gifsicle) look at what the test wrote into picture-output/.
set_tests_properties(components PROPERTIES FIXTURES_SETUP components_pictures)

# Debian's python3, where python3-pil is installed (not some other python first on PATH).
find_program(VA_DEBIAN_PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
add_test(NAME components_color_reduction
         COMMAND ${VA_DEBIAN_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/components/check_color_reduction.py
                 ${CMAKE_CURRENT_BINARY_DIR}/picture-output)
set_tests_properties(components_color_reduction PROPERTIES FIXTURES_REQUIRED components_pictures)
