# Each Windows program carries packaging/windows/program.manifest (run as
# invoked, without file virtualization, on Windows 7 to 11) and a
# VERSIONINFO with the project's name and version, compiled by windres from
# packaging/windows/resources.rc.in. Each program's resources are an object
# library of their own, so the compiler options of its C++ code never reach
# windres.
enable_language(RC)

file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE copyright REGEX "^Copyright \\(c\\) " LIMIT_COUNT 1)
string(REGEX REPLACE "^Copyright \\(c\\) [0-9, -]+ " "" holder "${copyright}")

# Configures the resources of one program and links them into it.
function(assettools_windows_resources program description)
  set(rc ${PROJECT_BINARY_DIR}/resources/${program}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/resources.rc.in ${rc} @ONLY)
  add_library(${program}_resources OBJECT ${rc})
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${PROJECT_SOURCE_DIR}/packaging/windows/program.manifest)
  target_link_libraries(${program} PRIVATE ${program}_resources)
endfunction()

assettools_windows_resources(scrambler "Writes key-scrambled copies of the BMP, TGA and TXT files of a folder tree")
assettools_windows_resources(unpacker "Writes every file of a PAK archive into a folder beside it")
