# Run by CPack between staging and zipping. A zip entry keeps the file's time,
# as local time (DOS) and as UTC, and its mode. CMake's archive writer gives
# every entry the time SOURCE_DATE_EPOCH when it is set: make sure it is, and
# fix the rest, the time zone and the modes that the umask would change.
if(NOT "$ENV{SOURCE_DATE_EPOCH}" MATCHES "^[0-9]+$")
  message(FATAL_ERROR "SOURCE_DATE_EPOCH must hold the time of the packaged commit "
    "(scripts/package.sh sets it from git)")
endif()
set(ENV{TZ} UTC)
execute_process(
  COMMAND chmod -R u=rwX,go=rX ${CPACK_TEMPORARY_INSTALL_DIRECTORY}
  COMMAND_ERROR_IS_FATAL ANY)
