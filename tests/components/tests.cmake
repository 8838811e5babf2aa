# The picture units' fixtures and checks beyond the Windows test itself. Debian's own tools
# (PIL, gifsicle, gifbuild, icotool) make the GIF and cursor files the test reads, with the
# pixels PIL decodes from each; afterwards readers that share no code with ours (PIL,
# gifsicle) look at what the test wrote into picture-output/.
# Debian's python3, where python3-pil is installed (not some other python first on PATH).
find_program(VA_DEBIAN_PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)

add_test(NAME components_picture_fixtures
         COMMAND ${VA_DEBIAN_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/components/make_picture_fixtures.py
                 ${CMAKE_CURRENT_BINARY_DIR}/picture-fixtures)
set_tests_properties(components_picture_fixtures PROPERTIES FIXTURES_SETUP components_fixture_files)
set_tests_properties(components PROPERTIES FIXTURES_REQUIRED components_fixture_files
                                           FIXTURES_SETUP components_pictures)

add_test(NAME components_color_reduction
         COMMAND ${VA_DEBIAN_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/components/check_color_reduction.py
                 ${CMAKE_CURRENT_BINARY_DIR}/picture-output)
add_test(NAME components_written_gifs
         COMMAND ${VA_DEBIAN_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/components/check_written_gifs.py
                 ${CMAKE_CURRENT_BINARY_DIR}/picture-output)
set_tests_properties(components_color_reduction components_written_gifs
                     PROPERTIES FIXTURES_REQUIRED components_pictures)
