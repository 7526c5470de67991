#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: adrvet_list
short_description: Keep addresses on an ADRVET list, with their labels and expiries
description:
  - Makes the addresses of a protected list present, absent, or exactly the ones given,
    through C(adrvet-list) on the managed host, which writes the list crash-safe under its lock.
  - Labels and expiries are set or updated on addresses that are already listed.
  - A second run with the same arguments changes nothing and reports C(changed=false).
  - In check mode the list is only read (no C(adrvet-list) writer runs); the result says what
    would change.
    In diff mode the entries before and after are shown, one line per address.
version_added: 0.1.0
author: ADRVET developers
extends_documentation_fragment:
  - orbitforge.adrvet.adrvet
options:
  addresses:
    description:
      - The addresses, each a string in any notation C(adrvet-list) accepts
        (C(52:54:00:ab:cd:ef), C(52-54-00-AB-CD-EF), C(525400abcdef), C(5254.00ab.cdef)),
        or a dictionary with the keys C(address), C(label) and C(expires).
      - C(expires) is a date C(YYYY-MM-DD) (the end of that day, UTC) or a UTC time
        C(YYYY-MM-DDTHH:MM:SSZ), in the future; durations are refused, since they would move
        the expiry on every run.
      - A label or expiry left out leaves the listed one as it is; an empty label clears the label,
        C(expires=never) the expiry.
      - Mutually exclusive with C(source).
    type: list
    elements: raw
    default: []
  source:
    description:
      - Another list on the managed host, read with the same key, whose entries are the addresses
        wanted, labels and expiries included; an entry there without a label or an expiry
        clears the one listed here. Entries whose expiry has passed are left out, as a prune
        would.
      - It is checked with C(adrvet-list verify) first; one that does not verify changes nothing.
    type: path
  state:
    description:
      - C(present) adds the addresses missing from the list and updates labels and expiries.
      - C(absent) removes the addresses from the list.
      - C(exact) makes the list hold these addresses and no other.
    type: str
    choices: [present, absent, exact]
    default: present
  create:
    description:
      - Create the list when it does not exist. Without it a missing list is an error
        whenever addresses would have to be added.
      - C(state=exact) with no address creates an empty list (with C(allow_empty)).
    type: bool
    default: false
  allow_empty:
    description:
      - Allow a change that leaves the list with no address, which makes every device refused.
        Without it such a change fails and writes nothing, so that an empty variable cannot
        lock a network out.
    type: bool
    default: false
  mode:
    description:
      - The permission bits of a list this module creates, in octal (C(0640)).
        An existing list keeps its own.
    type: str
  wait:
    description:
      - Seconds to wait for the list's lock when another writer holds it.
    type: float
attributes:
  check_mode:
    support: full
  diff_mode:
    support: full
notes:
  - Labels and expiries need an C(adrvet-list) that keeps them (C(add --label), C(--expires)).
seealso:
  - module: orbitforge.adrvet.adrvet_info
  - module: orbitforge.adrvet.adrvet_sync
'''

EXAMPLES = r'''
- name: Allow two devices
  orbitforge.adrvet.adrvet_list:
    list: /etc/adrvet
    key: S
    create: true
    addresses:
      - 52:54:00:12:34:56
      - address: 52-54-00-12-34-57
        label: reception printer

- name: Let a guest in until the end of the year
  orbitforge.adrvet.adrvet_list:
    list: /etc/adrvet
    key: S
    addresses:
      - address: 3c:22:fb:12:34:56
        label: guest, room 12
        expires: "2026-12-31T23:59:59Z"

- name: Take a device off the list
  orbitforge.adrvet.adrvet_list:
    list: /etc/adrvet
    key: S
    state: absent
    addresses: [52:54:00:12:34:57]

- name: The list is exactly the addresses of the inventory
  orbitforge.adrvet.adrvet_list:
    list: /etc/adrvet
    key: S
    state: exact
    addresses: "{{ groups['printers'] | map('extract', hostvars, 'mac') | list }}"

- name: Make the live list a copy of one shipped beside it
  orbitforge.adrvet.adrvet_list:
    list: /etc/adrvet
    key: S
    state: exact
    source: /var/lib/adrvet/incoming
    create: true
'''

RETURN = r'''
list:
  description: The list as given.
  returned: always
  type: str
  sample: /etc/adrvet
created:
  description: Whether the list was (or, in check mode, would be) created.
  returned: always
  type: bool
  sample: false
added:
  description: Addresses that entered (or would enter) the list, in lower-case colon notation.
  returned: always
  type: list
  elements: str
  sample: ["52:54:00:12:34:56"]
removed:
  description: Addresses that left (or would leave) the list.
  returned: always
  type: list
  elements: str
  sample: []
updated:
  description: Listed addresses whose label or expiry changed (or would change).
  returned: always
  type: list
  elements: str
  sample: ["52:54:00:12:34:57"]
count:
  description: The number of addresses on the list afterwards (in check mode, what it would be).
  returned: always
  type: int
  sample: 2
commands:
  description: The adrvet-list command lines run, each a list of arguments.
  returned: always
  type: list
  elements: list
'''

import datetime
from collections import OrderedDict

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.orbitforge.adrvet.plugins.module_utils.adrvet_cli import (
    COMMON_ARGUMENT_SPEC, AdrvetCli, AdrvetError, check_expiry, expiry_as_shown, fail,
    list_exists, normalize_address)


class Wanted:
    """One address as the task wants it. label: None leaves the listed one,
    '' clears it; expires: None leaves it, 'never' clears it, else a date or
    UTC time (as adrvet-list takes them)."""

    def __init__(self, address, label=None, expires=None):
        self.address = address
        self.label = label
        self.expires = expires

    def group(self):
        return (self.label, self.expires)

    def label_value(self):
        """The label `show` reports once this entry is written."""
        return self.label or None

    def expires_value(self):
        return expiry_as_shown(self.expires)


def wanted_from_arguments(items):
    """The addresses argument as Wanted entries in the order given; the same
    address twice must agree with itself."""
    wanted = OrderedDict()
    for position, item in enumerate(items, 1):
        if isinstance(item, dict):
            unknown = sorted(set(item) - set(['address', 'label', 'expires']))
            if unknown:
                raise AdrvetError('addresses[%d]: unknown key(s) %s' % (position, ', '.join(unknown)))
            text = item.get('address')
            label = item.get('label')
            expires = item.get('expires')
        else:
            text, label, expires = item, None, None
        address = normalize_address(text)
        if address is None:
            raise AdrvetError('addresses[%d]: %r is not a MAC address' % (position, text))
        if label is not None and not isinstance(label, str):
            raise AdrvetError('addresses[%d]: label must be a string' % position)
        if expires is not None:
            if not isinstance(expires, str):
                raise AdrvetError('addresses[%d]: expires must be a string' % position)
            check_expiry(expires)
        entry = Wanted(address, label, expires)
        earlier = wanted.get(address)
        if earlier is not None and earlier.group() != entry.group():
            raise AdrvetError('addresses[%d]: %s is given twice with different labels or expiries'
                              % (position, address))
        wanted[address] = entry
    return wanted


def wanted_from_source(entries, now):
    """A source's entries want their label and expiry exactly, absence
    included. An entry whose expiry has passed is left out: adrvet-list
    refuses to set a past expiry, and its prune would drop it anyway."""
    wanted = OrderedDict()
    for entry in entries:
        expires = entry.get('expires')
        if expires is not None and expires <= now:
            continue
        wanted[entry['address']] = Wanted(entry['address'], entry.get('label') or '',
                                          expires or 'never')
    return wanted


class Plan:
    """What the list needs: removals, and additions grouped by the label
    and expiry they are written with (one adrvet-list run per group)."""

    def __init__(self):
        self.remove = []
        self.add = OrderedDict()
        # Removals go first, so that an address taken off is refused as
        # early as possible; but when they would take off every listed
        # address, the additions go first: adrvet-list rightly refuses to
        # empty a list, and an empty list, even for a moment, refuses
        # every device.
        self.adds_first = False

    def empty(self):
        return not self.remove and not self.add


def needs_update(entry, listed):
    return ((entry.label is not None and entry.label_value() != listed.get('label'))
            or (entry.expires is not None and entry.expires_value() != listed.get('expires')))


def make_plan(current, wanted, state):
    """current: address -> entry as `show` reports it. Only addresses that
    are missing or look different are passed to adrvet-list, whose report
    then says what it did change."""
    plan = Plan()
    if state == 'absent':
        plan.remove = [address for address in wanted if address in current]
        return plan
    if state == 'exact':
        plan.remove = [address for address in current if address not in wanted]
    for address, entry in wanted.items():
        listed = current.get(address)
        if listed is None or needs_update(entry, listed):
            plan.add.setdefault(entry.group(), []).append(address)
    plan.adds_first = bool(plan.add) and not set(current) - set(plan.remove)
    return plan


def address_input(addresses):
    return ''.join(address + '\n' for address in addresses)


def run_plan(cli, params, plan, exists):
    """Runs the plan with adrvet-list and returns its reports, in order."""
    list_path = params['list']
    common = []
    if params['wait'] is not None:
        common += ['--wait', '%g' % params['wait']]
    creating = []
    if not exists:
        creating = ['--create'] + (['--mode', params['mode']] if params['mode'] else [])
    if params['allow_empty']:
        common += ['--allow-empty']
    reports = []

    def remove():
        if plan.remove:
            reports.append(cli.run('remove', common + [list_path, '-'],
                                   data=address_input(plan.remove))[1])

    if not plan.adds_first:
        remove()
    for (label, expires), addresses in plan.add.items():
        options = list(common + creating)
        if label is not None:
            options += ['--label', label]
        if expires is not None:
            options += ['--expires', expires]
        reports.append(cli.run('add', options + [list_path, '-'], data=address_input(addresses))[1])
    if plan.adds_first:
        remove()
    if not exists and not plan.add:
        # An exact list of no address: pack makes an empty list.
        options = list(common)
        if params['mode']:
            options += ['--mode', params['mode']]
        reports.append(cli.run('pack', options + ['-', list_path], data='')[1])
    return reports


def predicted_changes(current, plan):
    """What the plan would change, for check mode."""
    writes = [address for addresses in plan.add.values() for address in addresses]
    return (sorted(a for a in writes if a not in current), sorted(plan.remove),
            sorted(a for a in writes if a in current))


def summarize(reports):
    added, removed, updated = set(), set(), set()
    for report in reports:
        added.update(report.get('added') or [])
        removed.update(report.get('removed') or [])
        updated.update(report.get('updated') or [])
    return sorted(added), sorted(removed), sorted(updated)


def entry_line(entry):
    line = entry['address']
    if entry.get('label') is not None:
        line += ' label=%s' % entry['label']
    if entry.get('expires') is not None:
        line += ' expires=%s' % entry['expires']
    return line + '\n'


def predicted_entries(current, wanted, added, removed, updated):
    after = OrderedDict((address, dict(entry)) for address, entry in current.items()
                        if address not in removed)
    for address in added + updated:
        entry = wanted[address]
        merged = after.setdefault(address, {'address': address})
        if entry.label is not None:
            merged['label'] = entry.label_value()
        if entry.expires is not None:
            merged['expires'] = entry.expires_value()
    return sorted(after.values(), key=lambda e: e['address'])


def run_module(module):
    params = module.params
    cli = AdrvetCli(module)
    state = params['state']
    list_path = params['list']
    exists = list_exists(list_path)
    if params['source'] is not None:
        # A source that ADRVET could not use must not replace a list that works.
        verification = cli.verify(params['source'])
        if not verification.get('ok'):
            raise AdrvetError('%s does not verify (%s); %s is left as it is'
                              % (params['source'], verification.get('problem'), list_path),
                              verify=verification)
        now = datetime.datetime.utcnow().strftime('%Y-%m-%dT%H:%M:%SZ')
        wanted = wanted_from_source(cli.show(params['source']), now)
    else:
        wanted = wanted_from_arguments(params['addresses'])
    current = OrderedDict()
    if exists:
        current = OrderedDict((entry['address'], entry) for entry in cli.show(list_path))

    plan = make_plan(current, wanted, state)
    if not exists and plan.add and not params['create']:
        raise AdrvetError('%s does not exist; create: true makes it' % list_path)
    makes_empty_list = not exists and state == 'exact' and not wanted and params['create']
    empties = (exists and plan.remove and not plan.add
               and len(set(current) - set(plan.remove)) == 0) or makes_empty_list
    if empties and not params['allow_empty']:
        raise AdrvetError('this would leave %s with no address, refusing every device; '
                          'allow_empty: true allows it' % list_path)

    needs_write = not plan.empty() or makes_empty_list
    if module.check_mode:
        # No writer runs at all in check mode: the plan is the answer.
        added, removed, updated = predicted_changes(current, plan)
        created = not exists and needs_write
        count = len(current) + len(added) - len(removed)
    else:
        reports = run_plan(cli, params, plan, exists) if needs_write else []
        # adrvet-list's reports say what did change: an address that only
        # looked different (a label it stores cut short) is no change.
        added, removed, updated = summarize(reports)
        created = not exists and bool(reports)
        count = reports[-1]['count'] if reports else len(current)
    changed = created or bool(added or removed or updated)
    result = dict(changed=changed, list=list_path, created=created, added=added, removed=removed,
                  updated=updated, count=count, commands=cli.commands)
    if module._diff:
        if changed and not module.check_mode:
            after = cli.show(list_path)
        else:
            after = predicted_entries(current, wanted, added, removed, updated)
        result['diff'] = dict(
            before_header='%s (before)' % list_path if exists else '%s (absent)' % list_path,
            after_header='%s (after)' % list_path,
            before=''.join(entry_line(e) for e in current.values()),
            after=''.join(entry_line(e) for e in after))
    return result


def argument_spec():
    return dict(
        COMMON_ARGUMENT_SPEC,
        addresses=dict(type='list', elements='raw', default=[]),
        source=dict(type='path'),
        state=dict(type='str', choices=['present', 'absent', 'exact'], default='present'),
        create=dict(type='bool', default=False),
        allow_empty=dict(type='bool', default=False),
        mode=dict(type='str'),
        wait=dict(type='float'),
    )


def main():
    module = AnsibleModule(argument_spec=argument_spec(),
                           mutually_exclusive=[('addresses', 'source')],
                           supports_check_mode=True)
    try:
        module.exit_json(**run_module(module))
    except AdrvetError as error:
        fail(module, error, changed=False, list=module.params['list'])


if __name__ == '__main__':
    main()
