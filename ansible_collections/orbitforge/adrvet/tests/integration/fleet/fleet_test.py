#!/usr/bin/python3
"""A fleet simulated on this machine: HOSTS local hosts, each with its own
root directory, list and peer files, one of them with a target that cannot
be written. The distribute role runs across them as an administrator runs
it, and the hosts' files are checked after each run:

  1. first run: every host in step but the broken one, which fails alone;
  2. the same again: nothing changes, no peer is reloaded;
then, on a few hosts (each step costs what a whole run costs per host):
  3. check mode: nothing written;
  4. a changed list in check mode: reported, not written;
  5. the changed list distributed, in diff mode: in step again, the diff shown;
  6. a list that does not verify: refused before it replaces anything.

  fleet_test.py --adrvet-list PATH --workdir DIR [--hosts N] [--timings FILE]
Needs ansible-playbook with the collection installed (ANSIBLE_COLLECTIONS_PATH)."""

import argparse
import hashlib
import os
import re
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
KEY = 'S'


class Fleet:
    def __init__(self, adrvet_list, workdir, count):
        self.tool = adrvet_list
        self.workdir = workdir
        self.hosts = ['ap%02d' % n for n in range(1, count + 1)]
        # One host in the middle of the fleet has a target that cannot be written.
        self.broken = self.hosts[count // 3]
        self.source = os.path.join(workdir, 'controller', 'list')
        self.inventory = os.path.join(workdir, 'inventory.yml')
        self.passed = 0
        self.failed = 0

    def root(self, host):
        return os.path.join(self.workdir, 'hosts', host)

    def adrvet(self, *arguments, data=None, check=True):
        return subprocess.run([self.tool] + list(arguments), input=data, text=True,
                              capture_output=True, check=check)

    def expect(self, condition, what):
        if condition:
            self.passed += 1
        else:
            self.failed += 1
            print('FAIL: %s' % what, flush=True)

    def make_source(self, addresses, directory=None, key=KEY):
        directory = directory or self.source
        os.makedirs(directory, exist_ok=True)
        self.adrvet('pack', '-k', key, '-', directory, data=''.join(a + '\n' for a in addresses))

    def make(self):
        """The controller's list and the hosts' roots; the broken host's
        plain target lies under a regular file, where a directory should be."""
        self.make_source(['52:54:00:%02x:%02x:%02x' % (n >> 16, (n >> 8) & 255, n & 255)
                          for n in range(1, 1001)])
        for host in self.hosts:
            root = self.root(host)
            os.makedirs(os.path.join(root, 'etc', 'hostapd'))
            if host == self.broken:
                os.makedirs(os.path.join(root, 'srv'))
                with open(os.path.join(root, 'srv', 'adrvet'), 'w') as blocker:
                    blocker.write('a file where a directory should be\n')
            else:
                os.makedirs(os.path.join(root, 'srv', 'adrvet'))
        reload_log = os.path.join(HERE, 'reload-log')
        lines = ['all:', '  vars:',
                 '    ansible_connection: local',
                 '    ansible_python_interpreter: /usr/bin/python3',
                 '    fleet_source: %s' % self.source,
                 '    fleet_adrvet_list: %s' % self.tool,
                 '    fleet_root: "%s/hosts/{{ inventory_hostname }}"' % self.workdir,
                 '    fleet_reload_wifi: "%s {{ fleet_root }}/reloads wifi"' % reload_log,
                 '  children:', '    access_points:', '      hosts:']
        lines += ['        %s:' % host for host in self.hosts]
        with open(self.inventory, 'w') as handle:
            handle.write('\n'.join(lines) + '\n')

    def play(self, *options):
        """Runs the playbook; returns ({host: recap counts}, output, seconds)."""
        argv = ['ansible-playbook', '-i', self.inventory, '--forks', '10',
                os.path.join(HERE, 'playbook.yml')] + list(options)
        started = time.monotonic()
        run = subprocess.run(argv, text=True, capture_output=True)
        seconds = time.monotonic() - started
        recap = {}
        for match in re.finditer(r'^(\S+)\s+:\s+((?:\w+=\d+\s*)+)$', run.stdout, re.M):
            recap[match.group(1)] = {k: int(v) for k, v in re.findall(r'(\w+)=(\d+)',
                                                                       match.group(2))}
        if set(recap) != set(self.hosts) and '-l' not in options:
            print(run.stdout[-5000:], run.stderr[-3000:], sep='\n')
        return recap, run.stdout, seconds

    def snapshot(self, hosts=None):
        """Every file under the hosts' roots: content digest and change time."""
        files = {}
        for host in hosts or self.hosts:
            for directory, _, names in os.walk(self.root(host)):
                for name in names:
                    path = os.path.join(directory, name)
                    with open(path, 'rb') as handle:
                        digest = hashlib.sha256(handle.read()).hexdigest()
                    files[path] = (digest, os.stat(path).st_mtime_ns)
        return files

    def addresses(self, path):
        with open(path) as handle:
            return [line.split()[0].lower() for line in handle
                    if line.strip() and not line.startswith('#')]

    def source_addresses(self, source=None):
        out = self.adrvet('export', '-k', KEY, '--format', 'plain', source or self.source).stdout
        return [line for line in out.splitlines() if line and not line.startswith('#')]

    def reloads(self, host):
        path = os.path.join(self.root(host), 'reloads')
        if not os.path.exists(path):
            return []
        with open(path) as handle:
            return handle.read().split()

    def check_in_step(self, step, wanted, reloads, hosts=None):
        for host in hosts or self.hosts:
            root = self.root(host)
            listed = self.source_addresses(os.path.join(root, 'etc', 'adrvet'))
            self.expect(listed == wanted, '%s: %s list differs from the controller' % (step, host))
            hostapd = self.addresses(os.path.join(root, 'etc', 'hostapd', 'adrvet.accept'))
            self.expect(hostapd == wanted, '%s: %s hostapd file differs' % (step, host))
            self.expect(self.reloads(host) == ['wifi'] * reloads,
                        '%s: %s reloaded %s, not %d times' % (step, host, self.reloads(host),
                                                              reloads))
            drift = self.adrvet('sync', '-k', KEY, '--check', os.path.join(root, 'etc', 'adrvet'),
                                check=False)
            if host == self.broken:
                self.expect(drift.returncode == 1, '%s: %s broken target not reported' % (step, host))
                continue
            self.expect(drift.returncode == 0, '%s: %s not in step: %s' % (step, host, drift.stderr))
            plain = self.addresses(os.path.join(root, 'srv', 'adrvet', 'allowed.txt'))
            self.expect(plain == wanted, '%s: %s plain file differs' % (step, host))

    def check_recap(self, step, recap, changed, hosts=None):
        """changed: True (every good host changed), False (none did)."""
        hosts = hosts or self.hosts
        self.expect(set(recap) == set(hosts), '%s: recap names %d hosts, not %d'
                    % (step, len(recap), len(hosts)))
        for host in hosts:
            counts = recap.get(host, {})
            if host == self.broken:
                continue
            self.expect(counts.get('failed') == 0 and counts.get('unreachable') == 0,
                        '%s: %s failed: %s' % (step, host, counts))
            self.expect((counts.get('changed', 0) > 0) == changed,
                        '%s: %s changed=%s' % (step, host, counts.get('changed')))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--adrvet-list', required=True)
    parser.add_argument('--workdir', required=True)
    parser.add_argument('--hosts', type=int, default=50)
    parser.add_argument('--timings')
    options = parser.parse_args()
    fleet = Fleet(os.path.abspath(options.adrvet_list), options.workdir, options.hosts)
    fleet.make()
    wanted = fleet.source_addresses()

    recap, _, first = fleet.play()
    fleet.check_recap('first run', recap, changed=True)
    fleet.expect(recap.get(fleet.broken, {}).get('failed') == 1,
                 'first run: %s did not fail' % fleet.broken)
    fleet.check_in_step('first run', wanted, reloads=1)

    recap, _, again = fleet.play()
    fleet.check_recap('no-change run', recap, changed=False)
    fleet.expect(recap.get(fleet.broken, {}).get('failed') == 1, 'no-change run: %s did not fail'
                 % fleet.broken)
    fleet.check_in_step('no-change run', wanted, reloads=1)

    few = fleet.hosts[:5]
    limit = ('-l', ','.join(few))
    before = fleet.snapshot(few)
    recap, _, _ = fleet.play('--check', *limit)
    fleet.check_recap('check mode', recap, changed=False, hosts=few)
    fleet.expect(fleet.snapshot(few) == before, 'check mode: files on the hosts changed')

    new, gone = '52:54:00:ff:ff:fe', wanted[0]
    fleet.adrvet('add', '-k', KEY, fleet.source, new)
    fleet.adrvet('remove', '-k', KEY, fleet.source, gone)
    wanted = fleet.source_addresses()
    recap, output, _ = fleet.play('--check', *limit)
    fleet.check_recap('changed list, check mode', recap, changed=True, hosts=few)
    fleet.expect(fleet.snapshot(few) == before, 'changed list, check mode: files changed')

    recap, output, _ = fleet.play('--diff', *limit)
    fleet.check_recap('changed list', recap, changed=True, hosts=few)
    fleet.expect(re.search(r'^\+%s$' % new, output, re.M) is not None, 'diff lacks +%s' % new)
    fleet.expect(re.search(r'^-%s$' % gone, output, re.M) is not None, 'diff lacks -%s' % gone)
    fleet.check_in_step('changed list', wanted, reloads=2, hosts=few)

    bad = os.path.join(options.workdir, 'controller', 'other-key')
    fleet.make_source(wanted[:5], bad, key='U')
    few = fleet.hosts[:2]
    before = fleet.snapshot(few)
    recap, output, _ = fleet.play('-l', ','.join(few), '-e', 'fleet_source=%s' % bad)
    fleet.expect(all(recap.get(h, {}).get('failed') == 1 for h in few),
                 'a list under another key was not refused: %s' % recap)
    fleet.expect('does not verify' in output, 'the refusal does not say why')
    fleet.expect({p: v for p, v in fleet.snapshot(few).items() if '/etc/adrvet/' in p}
                 == {p: v for p, v in before.items() if '/etc/adrvet/' in p},
                 'a list that does not verify replaced a host list')

    summary = ('%d hosts, 1000 addresses: first run %.0f s, no-change run %.0f s'
               % (len(fleet.hosts), first, again))
    print('fleet: ' + summary)
    if options.timings:
        with open(options.timings, 'w') as handle:
            handle.write(summary + '\n')
    print('fleet: %d passed, %d failed' % (fleet.passed, fleet.failed))
    return 1 if fleet.failed else 0


if __name__ == '__main__':
    sys.exit(main())
