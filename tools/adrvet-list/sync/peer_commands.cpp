#include "sync/peer_commands.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "base/file_descriptor.h"

namespace adrvet_list {
namespace {

struct PeerDefaults {
  std::string_view format;
  std::string_view check;   // "" when the peer ships no checker
  std::string_view reload;  // "" when there is nothing to reload
};

// nft and ipset load the file itself, in one transaction, and say whether
// they did. dnsmasq rereads a dhcp-hostsfile on SIGHUP but its conf-file only
// when it starts. FreeRADIUS ignores a HUP that comes within 5 s of the last
// one and its files module grows with every HUP, so it is restarted:
// systemctl returns once the server reports itself ready with the new file.
constexpr std::array kDefaults = {
    PeerDefaults{"plain", "", ""},
    PeerDefaults{"hostapd", "", "systemctl kill -s HUP hostapd"},
    PeerDefaults{"dnsmasq", "dnsmasq --test --conf-file={}", "systemctl restart dnsmasq"},
    PeerDefaults{"dnsmasq-hosts", "dnsmasq --test --conf-file={}", "systemctl reload dnsmasq"},
    PeerDefaults{"ipset", "", "ipset restore -f {}"},
    PeerDefaults{"nft", "nft -c -f {}", "nft -f {}"},
    PeerDefaults{"freeradius", "freeradius -XC -d {}", "systemctl restart freeradius"},
};

const PeerDefaults* defaults_of(std::string_view format) {
  for (const PeerDefaults& defaults : kDefaults) {
    if (defaults.format == format) {
      return &defaults;
    }
  }
  return nullptr;
}

CommandWords words_of(std::string_view text) {
  std::string unused;
  return split_command(text, unused).value_or(CommandWords{});
}

bool write_scratch_file(const std::string& path, const std::string& text, std::string& problem) {
  orbitforge::util::FileDescriptor file(
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
  std::size_t done = 0;
  while (file.valid() && done < text.size()) {
    const ssize_t put = ::write(file.get(), text.data() + done, text.size() - done);
    if (put < 0 && errno == EINTR) {
      continue;
    }
    if (put <= 0) {
      break;
    }
    done += static_cast<std::size_t>(put);
  }
  if (!file.valid() || done != text.size() || !file.close()) {
    problem = path + ": cannot write the file to check: " + std::strerror(errno);
    return false;
  }
  return true;
}

bool make_directory(const std::string& path, std::string& problem) {
  if (::mkdir(path.c_str(), 0700) != 0) {
    problem = path + ": cannot make the checker's directory: " + std::strerror(errno);
    return false;
  }
  return true;
}

std::string base_name(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// A dhcp-hostsfile line is what follows "dhcp-host=" in a conf-file, and
// dnsmasq --test reads only conf-files.
std::string as_dnsmasq_conf(const std::string& hosts) {
  std::string conf;
  std::size_t from = 0;
  while (from < hosts.size()) {
    const std::size_t newline = hosts.find('\n', from);
    const std::size_t end = newline == std::string::npos ? hosts.size() : newline;
    const std::string_view line(hosts.data() + from, end - from);
    if (!line.empty() && line.front() != '#') {
      conf += "dhcp-host=";
      conf += line;
      conf += '\n';
    }
    from = end + 1;
  }
  return conf;
}

// FreeRADIUS checks a whole server: one of its own, whose only module is a
// files module that reads the new file as the list's module would.
std::string freeradius_config(const std::string& scratch, const std::string& users) {
  return "prefix = /usr\nexec_prefix = /usr\nsysconfdir = /etc\nlocalstatedir = /var\n"
         "sbindir = /usr/sbin\nlibdir = /usr/lib/freeradius\n"
         "logdir = " +
         scratch + "\nraddbdir = " + scratch + "/raddb\nconfdir = " + scratch +
         "/raddb\nradacctdir = " + scratch + "\nrun_dir = " + scratch + "\ndb_dir = " + scratch +
         "\npidfile = " + scratch +
         "/radiusd.pid\nname = freeradius\n"
         "log {\n\tdestination = stdout\n}\n"
         "modules {\n\tfiles adrvet_check {\n\t\tkey = \"%{Calling-Station-Id}\"\n"
         "\t\tusersfile = " +
         users +
         "\n\t}\n}\n"
         "server default {\n\tlisten {\n\t\ttype = auth\n\t\tipaddr = 127.0.0.1\n"
         "\t\tport = 0\n\t}\n\tauthorize {\n\t\tadrvet_check\n\t}\n}\n";
}

}  // namespace

std::optional<CommandWords> prepare_check(const SyncTarget& target, const std::string& text,
                                          const std::string& scratch, std::string& problem) {
  const std::string_view format = target.format->name;
  const PeerDefaults* defaults = defaults_of(format);
  const std::string file = scratch + "/" + base_name(target.output);
  if (target.check) {
    if (target.check->empty()) {
      return std::nullopt;
    }
    if (!write_scratch_file(file, text, problem)) {
      return std::nullopt;
    }
    return substitute_path(*target.check, file);
  }
  if (defaults == nullptr || defaults->check.empty()) {
    return std::nullopt;
  }
  std::string checked = file;
  bool written = false;
  if (format == "dnsmasq-hosts") {
    checked = file + ".conf";
    written = write_scratch_file(checked, as_dnsmasq_conf(text), problem);
  } else if (format == "freeradius") {
    checked = scratch + "/raddb";
    written =
        write_scratch_file(file, text, problem) && make_directory(checked, problem) &&
        write_scratch_file(checked + "/radiusd.conf", freeradius_config(scratch, file), problem);
  } else {
    written = write_scratch_file(file, text, problem);
  }
  if (!written) {
    return std::nullopt;
  }
  return substitute_path(words_of(defaults->check), checked);
}

CommandWords reload_command(const SyncTarget& target) {
  if (target.reload) {
    return substitute_path(*target.reload, target.output);
  }
  const PeerDefaults* defaults = defaults_of(target.format->name);
  return defaults == nullptr ? CommandWords{}
                             : substitute_path(words_of(defaults->reload), target.output);
}

std::string default_check_text(std::string_view format) {
  const PeerDefaults* defaults = defaults_of(format);
  return defaults == nullptr ? "" : std::string(defaults->check);
}

std::string default_reload_text(std::string_view format) {
  const PeerDefaults* defaults = defaults_of(format);
  return defaults == nullptr ? "" : std::string(defaults->reload);
}

}  // namespace adrvet_list
