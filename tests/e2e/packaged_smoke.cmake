# Runs the typing smoke (test_i686_smoke.py) on the program as a user gets it: unpacks the
# release zip into a fresh folder whose path has spaces and a non-ASCII letter, like
# "Program Files/Typrová 1.0", and types into the Typrova.exe found there.
#
#   cmake -DZIP_NAME=Typrova-<version>-win64.zip -DDIST=<default dist folder> -DDEST=<folder>
#         -DWINE=<loader> -DPYTHON=<python3> -DSMOKE=<test_i686_smoke.py>
#         -DINJECTOR=<injector> -DWINPROBE=<winprobe.exe> [-DAPP=<Typrova.exe>]
#         -P packaged_smoke.cmake
#
# The zip is looked for in $TYPROVA_DIST_DIR when that is set (scripts/test.sh points it at
# its release build), else in DIST. Without the zip it types into APP, or prints "skipped:"
# when APP is not given; likewise when a tool is not there.
if(DEFINED ENV{TYPROVA_DIST_DIR} AND NOT "$ENV{TYPROVA_DIST_DIR}" STREQUAL "")
  set(DIST "$ENV{TYPROVA_DIST_DIR}")
endif()
set(zip "${DIST}/${ZIP_NAME}")
if(EXISTS "${zip}")
  file(REMOVE_RECURSE "${DEST}")
  file(MAKE_DIRECTORY "${DEST}")
  file(ARCHIVE_EXTRACT INPUT "${zip}" DESTINATION "${DEST}")
  file(GLOB unpacked RELATIVE "${DEST}" "${DEST}/*")
  list(SORT unpacked)
  if(NOT unpacked STREQUAL "README.txt;Typrova.exe")
    message(FATAL_ERROR "${zip} holds [${unpacked}], expected README.txt and Typrova.exe")
  endif()
  set(APP "${DEST}/Typrova.exe")
elseif(APP STREQUAL "")
  message("skipped: no ${zip} (scripts/release.sh makes it)")
  return()
else()
  message("No ${zip} (scripts/release.sh makes it): typing into this build's program")
endif()

message("Typing into ${APP}")
execute_process(
  COMMAND
    "${PYTHON}" "${SMOKE}" --injector "${INJECTOR}" --winprobe "${WINPROBE}"
    --app "${APP}" --wine "${WINE}"
  RESULT_VARIABLE rc)
if(rc EQUAL 77)
  message("skipped: a tool of the smoke is not built")
elseif(NOT rc EQUAL 0)
  message(FATAL_ERROR "the smoke failed on ${APP} (${rc})")
endif()
