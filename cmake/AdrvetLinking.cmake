# ADRVET and adrvet-list start often and run briefly: with the C++ runtime
# linked in, a run no longer loads and relocates libstdc++ and libgcc_s.
# libc stays shared (valgrind's checks and security updates rely on it), and
# sanitized builds keep everything shared, as their runtimes require.
function(adrvet_link_lean target)
  if(NOT ADRVET_SANITIZED AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc)
  endif()
endfunction()
