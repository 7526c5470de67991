# fish completion for ADRVET S|U DIR MAC [D]. Installed into
# share/fish/vendor_completions.d, where fish looks for it by command name.

# The position of the argument being completed (1 for the key version).
function __adrvet_position
    math (count (commandline -opc))
end

complete -c ADRVET -f
complete -c ADRVET -n 'test (__adrvet_position) -eq 1' -a 'S U' -d 'key version'
complete -c ADRVET -n 'test (__adrvet_position) -eq 2' -a '(__fish_complete_directories (commandline -ct))'
complete -c ADRVET -n 'test (__adrvet_position) -eq 4' -a D -d 'print one message'
