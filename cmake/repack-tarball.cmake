# Run by CPack once it has made the Linux packages (CPACK_POST_BUILD_SCRIPTS).
# CPack writes a .tar.gz in the order the file system lists the staged files
# and under the account and umask of whoever builds it. Each one is written
# again with its entries in name order, owned by root, folders and programs
# 0755 and other files 0644, every time SOURCE_DATE_EPOCH where that is set,
# so that the archive holds the commit and nothing of the machine that made
# it. The .deb needs none of this: CPack sorts and owns its entries itself.
find_program(tar_program tar)
find_program(gzip_program gzip)
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "\\.tar\\.gz$")
    continue()
  endif()
  set(tar_version "")
  if(tar_program)
    execute_process(COMMAND ${tar_program} --version OUTPUT_VARIABLE tar_version ERROR_QUIET)
  endif()
  if(NOT tar_version MATCHES "GNU tar" OR NOT gzip_program)
    message(WARNING "${package} is left as CPack wrote it: putting it in name order takes GNU tar and gzip")
    continue()
  endif()

  set(scratch ${package}.entries)
  file(REMOVE_RECURSE ${scratch})
  file(MAKE_DIRECTORY ${scratch})
  execute_process(COMMAND ${tar_program} -xzpf ${package} -C ${scratch} COMMAND_ERROR_IS_FATAL ANY)
  file(GLOB top_entries RELATIVE ${scratch} ${scratch}/*)
  list(SORT top_entries)
  set(options --sort=name --format=gnu --owner=0 --group=0 --numeric-owner --mode=u+w,go-w,a+rX)
  if(DEFINED ENV{SOURCE_DATE_EPOCH})
    list(APPEND options --mtime=@$ENV{SOURCE_DATE_EPOCH})
  endif()
  execute_process(COMMAND ${tar_program} ${options} -cf - -C ${scratch} -- ${top_entries}
                  COMMAND ${gzip_program} -9n
                  OUTPUT_FILE ${package}.new
                  RESULTS_VARIABLE results)
  file(REMOVE_RECURSE ${scratch})
  if(NOT results STREQUAL "0;0")
    file(REMOVE ${package}.new)
    message(FATAL_ERROR "${package} could not be written again in name order (tar, gzip: ${results})")
  endif()
  file(RENAME ${package}.new ${package})
endforeach()
