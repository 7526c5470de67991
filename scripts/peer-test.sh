#!/usr/bin/env bash
# Installs the real peers from Debian (nftables, ipset, dnsmasq, FreeRADIUS
# with radclient, hostapd, and the small tools the tests drive them with),
# builds adrvet-list and runs tests/peers/run.sh against them.
#   scripts/peer-test.sh [PEER...]      nft ipset dnsmasq freeradius hostapd
# Needs root for the network namespaces the servers run in; ADRVET_PEER_SEED
# replays the random lists of a run.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh \
  nftables ipset iptables dnsmasq-base freeradius freeradius-utils hostapd \
  iproute2 busybox ethtool
cmake --preset default -DADRVET_WERROR="${ADRVET_WERROR:-OFF}" >/dev/null
cmake --build --preset default --target adrvet-list
tests/peers/run.sh build/default/bin "$@"
