# The folder for caches kept outside the source and build trees, once per machine:
# $XDG_CACHE_HOME, else ~/.cache, else (no HOME) the build folder.
function(tavelo_cache_home out)
  if(DEFINED ENV{XDG_CACHE_HOME} AND NOT "$ENV{XDG_CACHE_HOME}" STREQUAL "")
    set(${out} $ENV{XDG_CACHE_HOME} PARENT_SCOPE)
  elseif(DEFINED ENV{HOME} AND NOT "$ENV{HOME}" STREQUAL "")
    set(${out} $ENV{HOME}/.cache PARENT_SCOPE)
  else()
    set(${out} ${CMAKE_BINARY_DIR} PARENT_SCOPE)
  endif()
endfunction()
