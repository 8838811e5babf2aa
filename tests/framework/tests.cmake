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
# The settings write on a full disk: the framework test again under a file-size limit. It
# waits for the Wine server to end and starts its own, so nothing else may run meanwhile.
add_test(NAME framework_full_disk
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/framework/full_disk.sh $<TARGET_FILE:framework_tests>)
set_tests_properties(framework_full_disk PROPERTIES RUN_SERIAL TRUE TIMEOUT 300)
