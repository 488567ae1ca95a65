# Run by CPack between staging and zipping. A zip entry keeps the file's mode
# and time, the latter as local time (DOS) and as UTC: both would otherwise
# change with the umask, the clock and the time zone of the machine that
# packs. Every staged file and folder gets the time SOURCE_DATE_EPOCH and a
# fixed mode, and the local time is UTC.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH} OR NOT "$ENV{SOURCE_DATE_EPOCH}" MATCHES "^[0-9]+$")
  message(FATAL_ERROR "SOURCE_DATE_EPOCH must hold the time of the packaged commit "
    "(scripts/package.sh sets it from git)")
endif()
set(ENV{TZ} UTC)
execute_process(
  COMMAND chmod -R u=rwX,go=rX ${CPACK_TEMPORARY_INSTALL_DIRECTORY}
  COMMAND_ERROR_IS_FATAL ANY)
execute_process(
  COMMAND find ${CPACK_TEMPORARY_INSTALL_DIRECTORY} -exec touch -h -d @$ENV{SOURCE_DATE_EPOCH} {} +
  COMMAND_ERROR_IS_FATAL ANY)
