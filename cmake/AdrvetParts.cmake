# Tests, benchmarks and examples are optional parts: AUTO builds a part when
# what it needs is there and says so when not, ON requires it, OFF skips it.
# A user or packager thus needs only a compiler, CMake and Ninja.

# Declares the cache variable NAME (AUTO, ON or OFF; DEFAULT when unset).
function(adrvet_part_option name description default)
  set(${name} ${default} CACHE STRING "${description}: AUTO (when its dependencies are present), ON (they are required) or OFF")
  set_property(CACHE ${name} PROPERTY STRINGS AUTO ON OFF)
endfunction()

# Sets OUT to AUTO, ON or OFF from the value of the variable NAME (any CMake
# truth value counts as ON).
function(adrvet_part_mode name out)
  string(TOUPPER "${${name}}" value)
  if(value STREQUAL "AUTO")
    set(${out} AUTO PARENT_SCOPE)
  elseif(${name})
    set(${out} ON PARENT_SCOPE)
  else()
    set(${out} OFF PARENT_SCOPE)
  endif()
endfunction()

# find_package for a part: quiet under AUTO, REQUIRED under ON.
macro(adrvet_part_find_package mode package)
  if("${mode}" STREQUAL "ON")
    find_package(${package} REQUIRED ${ARGN})
  else()
    find_package(${package} QUIET ${ARGN})
  endif()
endmacro()

# After the part's lookups: when MISSING (a list of what is absent) is not
# empty, says so and gives SKIP true (under AUTO), or stops (under ON).
function(adrvet_part_check part mode missing skip)
  set(${skip} FALSE PARENT_SCOPE)
  if(NOT missing)
    return()
  endif()
  list(JOIN missing ", " text)
  if("${mode}" STREQUAL "ON")
    message(FATAL_ERROR "The ${part} need: ${text} (scripts/install-deps.sh installs them)")
  endif()
  message(STATUS "Not building the ${part}: missing ${text} (scripts/install-deps.sh installs them)")
  set(${skip} TRUE PARENT_SCOPE)
endfunction()
