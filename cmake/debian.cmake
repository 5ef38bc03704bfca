# The Debian package's own files, written into the build directory.
#
# changelog.Debian, the packaging's changelog in Debian's format, is made from the newest release
# that CHANGELOG.md lists ("## [X.Y.Z] - YYYY-MM-DD"): one entry, with that release's date,
# pointing to the upstream changelog. That release must be this project's version, so that a
# version is never packaged without its changes written down.
set(CHUNKIT_MAINTAINER "Chunkit_ authors <authors@users.noreply.c-seed-5981e9e3.example>")
set(CHUNKIT_DEBIAN_REVISION 1)

# The date as Debian writes it ("Tue, 08 Dec 2026 00:00:00 +0000"). The day count since 1970
# follows the proleptic Gregorian calendar, with March as the year's first month so that the
# leap day comes last.
function(chunkit_debian_date year month day out)
  if(month LESS_EQUAL 2)
    math(EXPR year "${year} - 1")
    math(EXPR month "${month} + 9")
  else()
    math(EXPR month "${month} - 3")
  endif()
  math(EXPR era "${year} / 400")
  math(EXPR year_of_era "${year} - ${era} * 400")
  math(EXPR day_of_year "(153 * ${month} + 2) / 5 + ${day} - 1")
  math(EXPR day_of_era
    "${year_of_era} * 365 + ${year_of_era} / 4 - ${year_of_era} / 100 + ${day_of_year}")
  math(EXPR days "${era} * 146097 + ${day_of_era} - 719468")
  math(EXPR seconds "${days} * 86400")
  set(saved "$ENV{SOURCE_DATE_EPOCH}")
  set(ENV{SOURCE_DATE_EPOCH} ${seconds})
  string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)
  set(ENV{SOURCE_DATE_EPOCH} "${saved}")
  set(${out} "${date}" PARENT_SCOPE)
endfunction()

set(release_pattern "^## \\[([0-9]+\\.[0-9]+\\.[0-9]+)\\] - ([0-9]+)-([0-9]+)-([0-9]+)$")
file(STRINGS ${CMAKE_CURRENT_SOURCE_DIR}/CHANGELOG.md releases REGEX "${release_pattern}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS CHANGELOG.md)
list(GET releases 0 newest)
string(REGEX MATCH "${release_pattern}" _ "${newest}")
if(NOT CMAKE_MATCH_1 VERSION_EQUAL PROJECT_VERSION)
  message(FATAL_ERROR "CHANGELOG.md: the newest release is ${CMAKE_MATCH_1}, not ${PROJECT_VERSION}")
endif()
set(year ${CMAKE_MATCH_2})
set(month ${CMAKE_MATCH_3})
set(day ${CMAKE_MATCH_4})
# Leading zeros would make the numbers octal to math().
string(REGEX REPLACE "^0" "" month "${month}")
string(REGEX REPLACE "^0" "" day "${day}")
chunkit_debian_date(${year} ${month} ${day} date)
file(CONFIGURE OUTPUT changelog.Debian @ONLY CONTENT
  "chunkit (${PROJECT_VERSION}-${CHUNKIT_DEBIAN_REVISION}) unstable; urgency=medium

  * Release ${PROJECT_VERSION}: see changelog.gz for its changes.

 -- ${CHUNKIT_MAINTAINER}  ${date}
")

# The package is built here, not uploaded to Debian, so its first entry closes no request for
# packaging in Debian's bug tracker.
file(CONFIGURE OUTPUT lintian-overrides CONTENT "chunkit: initial-upload-closes-no-bugs\n")
