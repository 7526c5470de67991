# fish completion for adrvet-list. Installed into
# share/fish/vendor_completions.d, where fish looks for it by command name.

set -l commands pack add remove show prune check verify export diff unpack rekey digest test sync
set -l formats plain hostapd dnsmasq dnsmasq-hosts ipset nft freeradius
set -l import_formats $formats csv

# True when the command is $argv[1] and option $argv[2] is not given yet
# (or is the word just before the cursor, so that its value is wanted).
function __adrvet_list_offers
    set -l words (commandline -opc)
    test (count $words) -ge 2; and test "$words[2]" = $argv[1]; or return 1
    if test "$words[-1]" = $argv[2]; and not string match -q -- '-*' (commandline -ct)
        return 0
    end
    for word in $words[3..-1]
        string match -q -- $argv[2] $word; and return 1
        string match -q -- "$argv[2]=*" $word; and return 1
    end
    return 0
end

# File names, less the lock files that live beside every list.
function __adrvet_list_files
    __fish_complete_path (string replace -r -- '^--output=' '' (commandline -ct)) | string match -v -r '\.lock(\t.*)?$'
end

# True when the word being completed is an argument, not an option's value.
function __adrvet_list_wants_file
    set -l words (commandline -opc)
    test (count $words) -ge 2; or return 1
    contains -- $words[-1] -k --key --key-b --to --format --from --columns --name --table --family --wait --mode --label --expires; and return 1
    return 0
end

complete -c adrvet-list -f
complete -c adrvet-list -n "not __fish_seen_subcommand_from $commands" -l help -d 'describe adrvet-list'
complete -c adrvet-list -n "not __fish_seen_subcommand_from $commands" -l version -d 'print the version'
complete -c adrvet-list -n "not __fish_seen_subcommand_from $commands" -a pack -d 'make a protected list from a plain list'
complete -c adrvet-list -n "not __fish_seen_subcommand_from $commands" -a add -d 'add addresses to a list'
complete -c adrvet-list -n "not __fish_seen_subcommand_from $commands" -a remove -d 'remove addresses from a list'
complete -c adrvet-list -n "not __fish_seen_subcommand_from $commands" -a show -d "the names, expiries and origins of a list's devices"
complete -c adrvet-list -n "not __fish_seen_subcommand_from $commands" -a prune -d 'remove the devices whose expiry has come'
complete -c adrvet-list -n "not __fish_seen_subcommand_from $commands" -a check -d 'look up many addresses as ADRVET would'
complete -c adrvet-list -n "not __fish_seen_subcommand_from $commands" -a verify -d 'check that ADRVET can use a list'
complete -c adrvet-list -n "not __fish_seen_subcommand_from $commands" -a export -d 'write a list for hostapd, dnsmasq, ipset, nft, FreeRADIUS'
complete -c adrvet-list -n "not __fish_seen_subcommand_from $commands" -a diff -d 'compare the addresses of two lists'
complete -c adrvet-list -n "not __fish_seen_subcommand_from $commands" -a unpack -d 'write the stored payload of a list'
complete -c adrvet-list -n "not __fish_seen_subcommand_from $commands" -a rekey -d 'rewrite a list under the other key version'
complete -c adrvet-list -n "not __fish_seen_subcommand_from $commands" -a digest -d 'SHA-256 of files, as sha256sum prints it'
complete -c adrvet-list -n "not __fish_seen_subcommand_from $commands" -a test -d 'exit 0 if an address is listed, 1 if not, 2 if undecided'
complete -c adrvet-list -n "not __fish_seen_subcommand_from $commands" -a sync -d 'bring every enforcement point in step with a list'

# Lists, inputs and outputs: file names after the command.
complete -c adrvet-list -n "__fish_seen_subcommand_from $commands; and __adrvet_list_wants_file" -a '(__adrvet_list_files)'

# Each command's options, each offered once.
for command in pack add remove check verify export diff unpack rekey test sync
    complete -c adrvet-list -n "__adrvet_list_offers $command -k" -s k -x -a 'S U' -d 'key version of the list'
end
for command in $commands
    complete -c adrvet-list -n "__adrvet_list_offers $command --help" -l help -d 'describe the command'
end
for command in pack add remove rekey prune export sync
    complete -c adrvet-list -n "__adrvet_list_offers $command --quiet" -l quiet -d 'print errors only'
end
for command in pack add remove rekey prune export
    complete -c adrvet-list -n "__adrvet_list_offers $command --dry-run" -l dry-run -d 'print the change and write nothing'
end
for command in pack add
    complete -c adrvet-list -n "__adrvet_list_offers $command --from" -l from -x -a "$import_formats" -d "read the input in a peer's format, or CSV"
    complete -c adrvet-list -n "__adrvet_list_offers $command --columns" -l columns -x -d 'which CSV column holds the address, label, expiry'
end
for command in pack add remove
    complete -c adrvet-list -n "__adrvet_list_offers $command --allow-empty" -l allow-empty -d 'write a list of no addresses'
end
complete -c adrvet-list -n "__adrvet_list_offers add --create" -l create -d 'make the list when it does not exist'
complete -c adrvet-list -n "__adrvet_list_offers add --label" -l label -x -d 'name of the devices'
complete -c adrvet-list -n "__adrvet_list_offers add --expires" -l expires -x -d 'when the devices leave the list'
for command in pack add remove rekey prune sync
    complete -c adrvet-list -n "__adrvet_list_offers $command --wait" -l wait -x -d "seconds to wait for the list's lock"
end
for command in pack add rekey export
    complete -c adrvet-list -n "__adrvet_list_offers $command --mode" -l mode -x -d 'permission bits of a new file, in octal'
end
for command in add remove rekey prune sync
    complete -c adrvet-list -n "__adrvet_list_offers $command --force" -l force -d 'rewrite a list that looks cut short'
end
complete -c adrvet-list -n "__adrvet_list_offers export --format" -l format -x -a "$formats" -d 'the peer to write for'
for command in export pack add
    complete -c adrvet-list -n "__adrvet_list_offers $command --name" -l name -x -d 'name of the set'
    complete -c adrvet-list -n "__adrvet_list_offers $command --table" -l table -x -d 'name of the nft table'
    complete -c adrvet-list -n "__adrvet_list_offers $command --family" -l family -x -a 'inet ip ip6 arp bridge netdev' -d 'nft family of the table'
end
complete -c adrvet-list -n "__adrvet_list_offers export --timeouts" -l timeouts -d 'give nft and ipset elements their remaining lifetime'
complete -c adrvet-list -n "__adrvet_list_offers export --output" -l output -x -a '(__adrvet_list_files)' -d 'write this file instead of standard output'
complete -c adrvet-list -n "__adrvet_list_offers diff --key-b" -l key-b -x -a 'S U' -d 'key version of the second list'
complete -c adrvet-list -n "__adrvet_list_offers rekey --to" -l to -x -a 'S U' -d 'the new key version'
for command in pack add remove check verify diff digest test sync show prune
    complete -c adrvet-list -n "__adrvet_list_offers $command --json" -s j -l json -d 'one JSON document on standard output'
end
complete -c adrvet-list -n "__adrvet_list_offers sync --targets" -l targets -x -a '(__adrvet_list_files)' -d 'the targets file'
complete -c adrvet-list -n "__adrvet_list_offers sync --check" -l check -d 'write and run nothing; name what drifted'
complete -c adrvet-list -n "__adrvet_list_offers sync --dry-run" -l dry-run -d 'say what a sync would do'
