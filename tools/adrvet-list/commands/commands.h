// One function per adrvet-list command, given the parsed command line, and
// its --help text; command_table.cpp lists them.
#pragma once

#include "cli/options.h"

namespace adrvet_list {

int run_pack(const Options& options);
const char* pack_usage();
int run_add(const Options& options);
const char* add_usage();
int run_remove(const Options& options);
const char* remove_usage();
int run_check(const Options& options);
const char* check_usage();
int run_verify(const Options& options);
const char* verify_usage();
int run_export(const Options& options);
const char* export_usage();
int run_diff(const Options& options);
const char* diff_usage();
int run_unpack(const Options& options);
const char* unpack_usage();
int run_rekey(const Options& options);
const char* rekey_usage();
int run_digest(const Options& options);
const char* digest_usage();
int run_test(const Options& options);
const char* test_usage();
int run_show(const Options& options);
const char* show_usage();
int run_prune(const Options& options);
const char* prune_usage();
int run_sync(const Options& options);
const char* sync_usage();

}  // namespace adrvet_list
