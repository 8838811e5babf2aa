# The program itself, started without a display: it must end with its own report and exit
# code 1 instead of terminate.
add_test(NAME app_no_display COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/app/no_display.sh $<TARGET_FILE:VoltAtlas>)
set_tests_properties(app_no_display PROPERTIES TIMEOUT 300)
