# iptables: drop IPv4 traffic from hosts whose address is not in the set
iptables -A INPUT -m set ! --match-set adrvet src -j DROP
