# Run by CPack once it has made the packages (CPACK_POST_BUILD_SCRIPTS).
# CPack writes a .tar.gz or a ZIP in the order the file system lists the
# staged files and with the owner, and the tar.gz with the account name, of
# whoever builds it. Each one is written again with its files in name order
# and nothing of the machine that made it: the tar.gz owned by root, folders
# and programs 0755 and other files 0644; the ZIP without owners or extra
# time fields. Every time is SOURCE_DATE_EPOCH where that is set, and the
# ZIP's DOS times are in UTC. The .deb needs none of this: CPack sorts its
# entries and makes them root's itself.
set(ENV{TZ} UTC)
find_program(tar_program tar)
find_program(gzip_program gzip)
find_program(zip_program zip)
find_program(touch_program touch)

# Unpacks `package` into a fresh folder `scratch`, modes kept.
function(unpack package scratch)
  file(REMOVE_RECURSE ${scratch})
  file(MAKE_DIRECTORY ${scratch})
  if(package MATCHES "\\.tar\\.gz$")
    execute_process(COMMAND ${tar_program} -xzpf ${package} -C ${scratch} COMMAND_ERROR_IS_FATAL ANY)
  else()
    file(ARCHIVE_EXTRACT INPUT ${package} DESTINATION ${scratch})
  endif()
endfunction()

# Puts `written` in place of `package` when every step of `results` succeeded.
function(replace package written results)
  string(REGEX REPLACE "[;0]" "" failed "${results}")
  if(NOT failed STREQUAL "")
    file(REMOVE ${written})
    message(FATAL_ERROR "${package} could not be written again in name order (${results})")
  endif()
  file(RENAME ${written} ${package})
endfunction()

foreach(package IN LISTS CPACK_PACKAGE_FILES)
  set(scratch ${package}.entries)
  if(package MATCHES "\\.tar\\.gz$")
    set(tar_version "")
    if(tar_program)
      execute_process(COMMAND ${tar_program} --version OUTPUT_VARIABLE tar_version ERROR_QUIET)
    endif()
    if(NOT tar_version MATCHES "GNU tar" OR NOT gzip_program)
      message(WARNING "${package} is left as CPack wrote it: putting it in name order takes GNU tar and gzip")
      continue()
    endif()
    unpack(${package} ${scratch})
    file(GLOB top_entries RELATIVE ${scratch} ${scratch}/*)
    list(SORT top_entries)
    set(options --sort=name --format=gnu --owner=0 --group=0 --numeric-owner --mode=u+w,go-w,a+rX)
    if(DEFINED ENV{SOURCE_DATE_EPOCH})
      list(APPEND options --mtime=@$ENV{SOURCE_DATE_EPOCH})
    endif()
    execute_process(COMMAND ${tar_program} ${options} -cf - -C ${scratch} -- ${top_entries}
                    COMMAND ${gzip_program} -9n
                    OUTPUT_FILE ${package}.new RESULTS_VARIABLE results)
  elseif(package MATCHES "\\.zip$")
    if(NOT zip_program OR NOT touch_program)
      message(WARNING "${package} is left as CPack wrote it: putting it in name order takes zip (Info-ZIP)")
      continue()
    endif()
    unpack(${package} ${scratch})
    file(GLOB_RECURSE files RELATIVE ${scratch} ${scratch}/*)
    list(SORT files)
    foreach(file IN LISTS files)
      if(file MATCHES "\\.exe$")
        file(CHMOD ${scratch}/${file} FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
             GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
      else()
        file(CHMOD ${scratch}/${file} FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
      endif()
    endforeach()
    if(DEFINED ENV{SOURCE_DATE_EPOCH})
      execute_process(COMMAND ${touch_program} -d @$ENV{SOURCE_DATE_EPOCH} -- ${files}
                      WORKING_DIRECTORY ${scratch} COMMAND_ERROR_IS_FATAL ANY)
    endif()
    string(REPLACE ";" "\n" names "${files}\n")
    file(WRITE ${scratch}.names "${names}")
    # -X: no owner and no extra time fields; -D: no folder entries.
    execute_process(COMMAND ${zip_program} -X -D -9 -q ${package}.new -@
                    WORKING_DIRECTORY ${scratch} INPUT_FILE ${scratch}.names
                    RESULTS_VARIABLE results)
    file(REMOVE ${scratch}.names)
  else()
    continue()
  endif()
  file(REMOVE_RECURSE ${scratch})
  replace(${package} ${package}.new "${results}")
endforeach()
