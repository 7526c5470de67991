// One function per adrvet-list command; each takes the arguments after the
// command name (argv[0] is the command) and returns the exit status.
#pragma once

namespace adrvet_list {

int run_pack(int argc, char* argv[]);
int run_export(int argc, char* argv[]);
int run_diff(int argc, char* argv[]);
int run_unpack(int argc, char* argv[]);
int run_verify(int argc, char* argv[]);
int run_add(int argc, char* argv[]);
int run_remove(int argc, char* argv[]);
int run_rekey(int argc, char* argv[]);
int run_check(int argc, char* argv[]);
int run_digest(int argc, char* argv[]);

}  // namespace adrvet_list
