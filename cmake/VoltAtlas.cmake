# Small helpers shared by the source folders.

# va_add_library(<folder> [deps...]): a static library made of every .cpp in <folder>.
# A folder without sources yet gives an INTERFACE target, so dependants link unchanged.
function(va_add_library folder)
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${folder}/*.cpp)
  if(folder STREQUAL "app")
    list(FILTER sources EXCLUDE REGEX "/main\\.cpp$")
  endif()
  if(sources)
    add_library(${folder} STATIC ${sources})
    target_include_directories(${folder} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${folder} PUBLIC ${ARGN})
  else()
    add_library(${folder} INTERFACE)
    target_include_directories(${folder} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${folder} INTERFACE ${ARGN})
  endif()
endfunction()

# va_delay_import(<var> <lib> <dll>): a delay-import library for <dll>, made from the exports
# of MinGW's import library lib<lib>.a, into <var>. Its DLL is loaded at the first call into
# it rather than before the program's first line runs.
function(va_delay_import var lib dll)
  find_file(va_implib_${lib} lib${lib}.a PATHS ${CMAKE_FIND_ROOT_PATH}/lib NO_DEFAULT_PATH REQUIRED)
  find_program(VA_NM ${VA_TRIPLET}-nm REQUIRED)
  find_program(VA_DLLTOOL ${VA_TRIPLET}-dlltool REQUIRED)
  set(dir ${CMAKE_BINARY_DIR}/delayimp)
  set(out ${dir}/lib${lib}_delay.a)
  if(NOT EXISTS ${out} OR ${va_implib_${lib}} IS_NEWER_THAN ${out})
    execute_process(COMMAND ${VA_NM} -g ${va_implib_${lib}} OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX MATCHALL "I __imp_[A-Za-z0-9_@?$]+" imports "${symbols}")
    list(TRANSFORM imports REPLACE "^I __imp_" "")
    list(REMOVE_DUPLICATES imports)
    list(JOIN imports "\n" exports)
    file(MAKE_DIRECTORY ${dir})
    file(WRITE ${dir}/${lib}.def "LIBRARY ${dll}\nEXPORTS\n${exports}\n")
    execute_process(COMMAND ${VA_DLLTOOL} --input-def ${dir}/${lib}.def --output-delaylib ${out}
                    COMMAND_ERROR_IS_FATAL ANY)
  endif()
  set(${var} ${out} PARENT_SCOPE)
endfunction()

# What a start needs before the window shows is imported as usual; the DLLs used only later
# (the tray, the shell's commands and folders, the version resource, the OS text,
# transparent drawing, themed painting) are delay-loaded, so a start does not wait for them.
va_delay_import(va_shell32 shell32 SHELL32.dll)
va_delay_import(va_uxtheme uxtheme UxTheme.dll)
va_delay_import(va_version version VERSION.dll)
va_delay_import(va_netapi32 netapi32 NETAPI32.dll)
va_delay_import(va_msimg32 msimg32 MSIMG32.dll)

# The Win32 libraries each folder calls; linked by whoever links the folder.
set(VA_SYSTEM_LIBS setupapi ${va_shell32} shlwapi ole32 oleaut32 uuid advapi32 user32 gdi32 comctl32
    comdlg32 ${va_uxtheme} ${va_version} ${va_netapi32} ${va_msimg32} ws2_32 winmm)
