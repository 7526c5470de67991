# The FreeRADIUS server that tests/peers/freeradius.sh and bench/sync.sh run:
# a whole configuration of its own around the README's files module and
# authorize section; the policies and small modules come from the stock
# configuration. Sourced.
#   write_radiusd_conf CONF WORK PORT SECRET [LOG_FILE]
# Makes the directory CONF with radiusd.conf, module.conf and authorize.conf.
# WORK holds the server's pid and run files. The server logs to LOG_FILE,
# or without one to standard output (as freeradius -X runs it).
write_radiusd_conf() {
  local conf=$1 work=$2 port=$3 secret=$4 log_file=${5:-}
  local config stock=/etc/freeradius/3.0 log_section
  config=$(cd "$(dirname "${BASH_SOURCE[0]}")/config" && pwd)
  if [ -n "$log_file" ]; then
    log_section=$(printf '\tdestination = files\n\tfile = %s' "$log_file")
  else
    log_section=$(printf '\tdestination = stdout')
  fi
  mkdir -p "$conf"
  cp "$config/freeradius-module.conf" "$conf/module.conf"
  cp "$config/freeradius-authorize.conf" "$conf/authorize.conf"
  cat >"$conf/radiusd.conf" <<CONF
prefix = /usr
exec_prefix = /usr
sysconfdir = /etc
localstatedir = /var
sbindir = /usr/sbin
logdir = $work
raddbdir = $conf
radacctdir = $work
name = freeradius
confdir = $conf
modconfdir = $conf/mods-config
run_dir = $work
db_dir = $work
libdir = /usr/lib/freeradius
pidfile = $work/radiusd.pid
max_request_time = 5
cleanup_delay = 1
max_requests = 64
hostname_lookups = no
log {
$log_section
}
security {
	allow_core_dumps = no
	reject_delay = 0
}
client localhost {
	ipaddr = 127.0.0.1
	secret = $secret
}
modules {
\$INCLUDE $stock/mods-available/always
\$INCLUDE $stock/mods-available/expr
\$INCLUDE $stock/mods-available/expiration
\$INCLUDE $conf/module.conf
}
policy {
\$INCLUDE $stock/policy.d/canonicalization
}
server default {
	listen {
		type = auth
		ipaddr = 127.0.0.1
		port = $port
	}
	authorize {
\$INCLUDE $conf/authorize.conf
	}
	authenticate {
	}
}
CONF
}
