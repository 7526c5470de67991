#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: adrvet_info
short_description: Read an ADRVET list, its entries and its verification
description:
  - Runs C(adrvet-list verify) and, for a usable list, C(adrvet-list show) on the managed host,
    and returns what they report, also as the fact C(adrvet_list_info).
  - Reads only; never changes anything, in check mode or not.
  - A missing or unusable list is no failure of this module; C(require_ok=true) makes it one.
version_added: 0.1.0
author: ADRVET developers
extends_documentation_fragment:
  - orbitforge.adrvet.adrvet
options:
  require_ok:
    description:
      - Fail unless the list verifies, with the problem C(adrvet-list verify) names.
    type: bool
    default: false
attributes:
  check_mode:
    support: full
  diff_mode:
    support: none
  facts:
    support: full
seealso:
  - module: orbitforge.adrvet.adrvet_list
'''

EXAMPLES = r'''
- name: Read the list
  orbitforge.adrvet.adrvet_info:
    list: /etc/adrvet
    key: S
  register: acl

- name: Devices whose access expires
  ansible.builtin.debug:
    msg: "{{ acl.entries | rejectattr('expires', 'none') | map(attribute='address') | list }}"

- name: Stop here unless the list is one ADRVET can use
  orbitforge.adrvet.adrvet_info:
    list: /etc/adrvet
    key: S
    require_ok: true
'''

RETURN = r'''
list:
  description: The list as given.
  returned: always
  type: str
  sample: /etc/adrvet
exists:
  description: Whether the list's container file exists.
  returned: always
  type: bool
ok:
  description: Whether the list verifies (usable, whole, ascending).
  returned: always
  type: bool
count:
  description: The number of addresses on the list; 0 for an unusable list.
  returned: always
  type: int
  sample: 2
entries:
  description: The entries in list order; empty for an unusable list.
  returned: always
  type: list
  elements: dict
  contains:
    address:
      description: Lower-case colon notation.
      type: str
      sample: "52:54:00:12:34:56"
    label:
      description: The label, or null.
      type: str
    expires:
      description: The expiry, ISO 8601 UTC, or null.
      type: str
      sample: "2026-12-31T23:59:59Z"
    added:
      description: When the address was added, or null.
      type: str
    added_by:
      description: "Who added it (C(user) or C(user (sudo: admin))), or null."
      type: str
verify:
  description: The document of C(adrvet-list verify --json) (C(ok), C(addresses), C(answer), C(problem), C(metadata)).
  returned: always
  type: dict
ansible_facts:
  description: The same results.
  returned: always
  type: dict
  contains:
    adrvet_list_info:
      description: C(list), C(exists), C(ok), C(count), C(entries) and C(verify) of the last list read.
      type: dict
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.orbitforge.adrvet.plugins.module_utils.adrvet_cli import (
    COMMON_ARGUMENT_SPEC, AdrvetCli, AdrvetError, fail, list_exists)


def run_module(module):
    cli = AdrvetCli(module)
    list_path = module.params['list']
    exists = list_exists(list_path)
    verification = cli.verify(list_path)
    ok = bool(verification.get('ok'))
    entries = cli.show(list_path) if ok else []
    if module.params['require_ok'] and not ok:
        raise AdrvetError('%s does not verify: %s' % (list_path, verification.get('problem')),
                          verify=verification, exists=exists)
    info = dict(list=list_path, exists=exists, ok=ok, count=len(entries), entries=entries,
                verify=verification)
    result = dict(info, changed=False, commands=cli.commands)
    result['ansible_facts'] = dict(adrvet_list_info=info)
    return result


def argument_spec():
    return dict(COMMON_ARGUMENT_SPEC, require_ok=dict(type='bool', default=False))


def main():
    module = AnsibleModule(argument_spec=argument_spec(),
                           supports_check_mode=True)
    try:
        module.exit_json(**run_module(module))
    except AdrvetError as error:
        fail(module, error, changed=False, list=module.params['list'])


if __name__ == '__main__':
    main()
