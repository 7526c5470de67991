# The one place where the project's warning flags live.
function(adrvet_set_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion)
  if(ADRVET_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
