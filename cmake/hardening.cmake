# Hardening of every program built here, as Debian builds its packages
# (dpkg-buildflags): a stack protector, fortified libc calls where the
# compiler optimizes, control-flow protection where the compiler has it, and
# read-only relocations bound at start-up (RELRO, BIND_NOW) where the linker
# has them, as every Linux linker does. The Windows programs get the stack
# protector too, from the compiler's own libssp linked statically, and are
# marked for ASLR and DEP.
include(CheckCXXCompilerFlag)
include(CheckLinkerFlag)

if(NOT CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  return()
endif()

add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-fstack-protector-strong>)
# The link needs it too: there it brings in libssp where the C library has no
# __stack_chk_fail of its own (mingw-w64).
add_link_options(-fstack-protector-strong)

# Builds other than Debug also drop the source folder from the programs, so
# two clones of one commit build the same bytes wherever they lie.
add_compile_options("$<$<AND:$<COMPILE_LANGUAGE:CXX>,$<NOT:$<CONFIG:Debug>>>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=>")

if(WIN32)
  # No link time in the PE header either, so two builds of one commit match.
  set(pe_flags --dynamicbase --nxcompat --no-insert-timestamp)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    list(APPEND pe_flags --high-entropy-va)
  endif()
  foreach(flag ${pe_flags})
    string(MAKE_C_IDENTIFIER "ASSETTOOLS_LINKER_HAS${flag}" known)
    check_linker_flag(CXX LINKER:${flag} ${known})
    if(${known})
      add_link_options(LINKER:${flag})
    endif()
  endforeach()
  return()
endif()

check_cxx_compiler_flag(-fcf-protection ASSETTOOLS_HAVE_CF_PROTECTION)
if(ASSETTOOLS_HAVE_CF_PROTECTION)
  add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-fcf-protection>)
endif()
# Fortification needs optimization (glibc warns without it) and stays out of
# the fuzz build, whose sanitizers check those calls themselves.
if(NOT ASSETTOOLS_FUZZ)
  add_compile_options("$<$<AND:$<COMPILE_LANGUAGE:CXX>,$<CONFIG:Release,RelWithDebInfo,MinSizeRel>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
endif()
# Linkers outside the GNU world (macOS, some BSDs) know neither; a build
# there goes on without them rather than failing at its first link.
foreach(flag relro now)
  check_linker_flag(CXX LINKER:-z,${flag} ASSETTOOLS_LINKER_HAS_Z_${flag})
  if(ASSETTOOLS_LINKER_HAS_Z_${flag})
    add_link_options(LINKER:-z,${flag})
  endif()
endforeach()
