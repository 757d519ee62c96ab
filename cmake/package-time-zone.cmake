# Read by CPack before it makes each package (CPACK_PROJECT_CONFIG_FILE). A
# ZIP stores DOS times, which are local times: the packager's time zone would
# otherwise be in the bytes. UTC makes them the same wherever the ZIP is made.
set(ENV{TZ} UTC)
