# JPEG files made by PIL before the framework test, and PIL's reading of the one it writes.
find_program(VA_DEBIAN_PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
add_test(NAME framework_jpeg_files
         COMMAND ${VA_DEBIAN_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/framework/jpeg_files.py make
                 ${CMAKE_CURRENT_BINARY_DIR}/jpeg-files)
set_tests_properties(framework_jpeg_files PROPERTIES FIXTURES_SETUP framework_jpeg_in)
set_tests_properties(framework PROPERTIES FIXTURES_REQUIRED framework_jpeg_in FIXTURES_SETUP framework_jpeg_out)
add_test(NAME framework_jpeg_read_by_pil
         COMMAND ${VA_DEBIAN_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/framework/jpeg_files.py check
                 ${CMAKE_CURRENT_BINARY_DIR}/jpeg-files)
set_tests_properties(framework_jpeg_read_by_pil PROPERTIES FIXTURES_REQUIRED framework_jpeg_out)
