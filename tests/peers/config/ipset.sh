# drop IPv4 traffic from hosts not in the set (iptables-nft or legacy alike)
iptables -A INPUT -m set ! --match-set adrvet src -j DROP
