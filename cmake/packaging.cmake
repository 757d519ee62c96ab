# What an install holds, and the release packages made from it by `cpack`
# (or `cpack --preset`, see CMakePresets.json) into build/packages: for
# Windows a ZIP of the programs with a user's README.txt, LICENSE.txt and
# the changelog beside them, all with Windows line ends; for Linux a .tar.gz
# and a .deb with the man pages and the documents Debian asks for. Every
# document is made here from its one source in the tree.
set(CPACK_PACKAGE_NAME assettools)
set(CPACK_PACKAGE_VENDOR "the assettools authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_SOURCE_DIR}/build/packages)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/package-time-zone.cmake)
# CPack's archives hold their files in the order the file system lists them,
# with the builder's account; they are written again in name order without
# it, so that they are the same whoever builds them and wherever.
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/repack-archives.cmake)
set(ASSETTOOLS_MAINTAINER "the assettools authors <maintainers@users.noreply.c-seed-f00d6c7e.example>"
    CACHE STRING "Maintainer of the Debian package, with a contact address")

# packaging/changelog is in Debian's format; its newest entry names the
# version being built and gives the man pages their date.
set(changelog ${PROJECT_SOURCE_DIR}/packaging/changelog)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${changelog})
file(STRINGS ${changelog} changelog_top LIMIT_COUNT 1)
if(NOT changelog_top MATCHES "^assettools \\(${PROJECT_VERSION}\\) ")
  message(WARNING "packaging/changelog has no entry for ${PROJECT_VERSION} at the top: add one before packaging")
endif()
# A changelog trailer's date ("Tue, 08 Dec 2026 12:00:00 +0000") as
# YYYY-MM-DD, for the man pages and the Windows changelog.
function(assettools_changelog_date trailer out)
  if(NOT trailer MATCHES ", ([0-9]+) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
    message(FATAL_ERROR "packaging/changelog: a trailer has no date as Debian writes it: ${trailer}")
  endif()
  set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  list(FIND months ${CMAKE_MATCH_2} month)
  if(month EQUAL -1)
    message(FATAL_ERROR "packaging/changelog: no month ${CMAKE_MATCH_2} in: ${trailer}")
  endif()
  math(EXPR month "${month} + 1")
  set(day ${CMAKE_MATCH_1})
  set(year ${CMAKE_MATCH_3})
  foreach(part month day)
    string(LENGTH ${${part}} digits)
    if(digits EQUAL 1)
      set(${part} 0${${part}})
    endif()
  endforeach()
  set(${out} ${year}-${month}-${day} PARENT_SCOPE)
endfunction()

# The man pages' date: the newest entry's.
file(STRINGS ${changelog} changelog_trailer REGEX "^ -- " LIMIT_COUNT 1)
assettools_changelog_date("${changelog_trailer}" ASSETTOOLS_DATE)

# The changelog as a Windows user reads it, in CRLF lines: each release's
# version and date above its changes, without Debian's distribution, urgency
# and trailer lines.
function(assettools_windows_changelog output)
  file(READ ${changelog} text)
  # Each line one list element: its own semicolons and brackets, which a list
  # would take as its own, are set aside meanwhile.
  string(REPLACE ";" "<semicolon>" text "${text}")
  string(REPLACE "[" "<open>" text "${text}")
  string(REPLACE "]" "<close>" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(title "${PROJECT_NAME} changes")
  string(REGEX REPLACE "." "=" underline "${title}")
  set(plain "${title}\r\n${underline}\r\n")
  set(version "")
  foreach(line IN LISTS lines)
    string(REPLACE "<semicolon>" ";" line "${line}")
    string(REPLACE "<open>" "[" line "${line}")
    string(REPLACE "<close>" "]" line "${line}")
    if(line MATCHES "^[^ ]+ \\(([^)]+)\\) ")
      set(version ${CMAKE_MATCH_1})
      set(changes "")
    elseif(line MATCHES "^ -- ")
      assettools_changelog_date("${line}" date)
      string(APPEND plain "\r\nVersion ${version}, ${date}\r\n\r\n${changes}")
    elseif(NOT line STREQUAL "")
      string(APPEND changes "${line}\r\n")
    endif()
  endforeach()
  file(WRITE ${output} "${plain}")
endfunction()

if(WIN32)
  # A bare Windows opens .txt files with Notepad and shows them with `type`,
  # both reading the ANSI code page: plain ASCII with CRLF line ends.
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/README.txt.in ${PROJECT_BINARY_DIR}/README.txt
                 @ONLY NEWLINE_STYLE CRLF)
  configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_BINARY_DIR}/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
  assettools_windows_changelog(${PROJECT_BINARY_DIR}/changelog.txt)
  install(FILES ${PROJECT_BINARY_DIR}/README.txt ${PROJECT_BINARY_DIR}/LICENSE.txt ${PROJECT_BINARY_DIR}/changelog.txt
          DESTINATION .)

  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_SYSTEM_NAME win32)
  else()
    set(CPACK_SYSTEM_NAME win64)
  endif()
  include(CPack)
  return()
endif()

# Man pages and the changelog go in compressed, without a name or time in
# the gzip header, so the package is the same from one build to the next.
find_program(ASSETTOOLS_GZIP gzip REQUIRED)
set(doc_build ${PROJECT_BINARY_DIR}/doc)
set(compressed_docs)
function(assettools_gzip source compressed)
  get_filename_component(name ${compressed} NAME_WLE)
  add_custom_command(OUTPUT ${compressed}
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${doc_build}/${name}
    COMMAND ${ASSETTOOLS_GZIP} -9nf ${doc_build}/${name}
    DEPENDS ${source} VERBATIM)
  set(compressed_docs ${compressed_docs} ${compressed} PARENT_SCOPE)
endfunction()

# The man pages get the project's version and the changelog's date.
file(GLOB man_pages CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/man/*.1.in)
foreach(page ${man_pages})
  get_filename_component(name ${page} NAME_WLE)
  configure_file(${page} ${PROJECT_BINARY_DIR}/man/${name} @ONLY)
  assettools_gzip(${PROJECT_BINARY_DIR}/man/${name} ${doc_build}/${name}.gz)
  install(FILES ${doc_build}/${name}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

assettools_gzip(${changelog} ${doc_build}/changelog.gz)
# Debian compresses documents over 4 KB; the README is many times that.
assettools_gzip(${PROJECT_SOURCE_DIR}/README.md ${doc_build}/README.md.gz)
add_custom_target(compressed_docs ALL DEPENDS ${compressed_docs})

# The copyright file in Debian's machine-readable format, made from LICENSE.
file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE license_lines)
set(license_text "")
set(holder "")
foreach(line IN LISTS license_lines)
  if(line MATCHES "^Copyright \\(c\\) (.+)$")
    set(holder "${CMAKE_MATCH_1}")
  elseif(holder AND NOT (line STREQUAL "" AND license_text STREQUAL ""))
    if(line STREQUAL "")
      string(APPEND license_text "\n .")
    else()
      string(APPEND license_text "\n ${line}")
    endif()
  endif()
endforeach()
file(WRITE ${doc_build}/copyright
  "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
  "Upstream-Name: ${PROJECT_NAME}\n"
  "\n"
  "Files: *\n"
  "Copyright: ${holder}\n"
  "License: Expat${license_text}\n")

install(FILES ${doc_build}/README.md.gz ${doc_build}/copyright ${doc_build}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The installed programs lose the compilers' .comment notes too, as in
# Debian's own packages; this runs after CPack's strip, which keeps them.
if(CMAKE_OBJCOPY)
  install(CODE "
    foreach(program scrambler unpacker)
      execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
                              \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/\${program}\"
                      COMMAND_ERROR_IS_FATAL ANY)
    endforeach()")
endif()

set(CPACK_GENERATOR TGZ DEB)
# The .tar.gz is named for the machines it runs on: assettools-1.0.0-linux-x86_64.
string(TOLOWER "${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}" CPACK_SYSTEM_NAME)
set(CPACK_PACKAGE_DESCRIPTION [[
The scrambler writes, beside every BMP, TGA and TXT file of a directory
tree, a copy with each byte XORed with a fixed key. The unpacker writes
every file that a PAK archive holds into a directory named after the
archive, and refuses archives that are broken or would write outside it.]])
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ASSETTOOLS_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Versioned dependencies on the libraries the programs link, read off the
# binaries by dpkg-shlibdeps (Debian's dpkg-dev).
find_program(ASSETTOOLS_SHLIBDEPS dpkg-shlibdeps)
if(ASSETTOOLS_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  message(STATUS "No dpkg-shlibdeps (apt-get install dpkg-dev): the .deb names its dependencies without versions")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
endif()
include(CPack)
