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

# The Win32 libraries each folder calls; linked by whoever links the folder.
set(VA_SYSTEM_LIBS setupapi shell32 shlwapi ole32 oleaut32 uuid advapi32 user32 gdi32 comctl32
    comdlg32 uxtheme version netapi32 msimg32 ws2_32 winmm)
