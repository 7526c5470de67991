#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: adrvet_sync
short_description: Bring every enforcement point of an ADRVET list in step
description:
  - Runs C(adrvet-list sync) on the managed host. For each target of the list's targets file
    it renders the export, and where the live file differs it checks the new file, replaces the
    live one and reloads the peer.
  - Changed when any target was updated; a second run with nothing to do reports C(changed=false).
  - Fails when any target failed, naming each with the checker's or the reload's own message;
    the other targets are synced all the same.
  - In check mode it runs C(adrvet-list sync --check), which writes and runs nothing, and reports
    as changed the targets that have drifted from the list.
version_added: 0.1.0
author: ADRVET developers
extends_documentation_fragment:
  - orbitforge.adrvet.adrvet
options:
  targets:
    description:
      - The targets file; by default C(targets.conf) in the list's directory.
    type: path
attributes:
  check_mode:
    support: full
  diff_mode:
    support: none
seealso:
  - module: orbitforge.adrvet.adrvet_list
'''

EXAMPLES = r'''
- name: Feed the list to hostapd, nftables and FreeRADIUS
  orbitforge.adrvet.adrvet_sync:
    list: /etc/adrvet
    key: S

- name: Report drifted peers without touching them
  orbitforge.adrvet.adrvet_sync:
    list: /etc/adrvet
    key: S
  check_mode: true
  register: drift

- name: Name the drifted targets
  ansible.builtin.debug:
    msg: "{{ drift.targets | selectattr('state', 'in', ['missing', 'drifted']) | map(attribute='name') | list }}"
'''

RETURN = r'''
list:
  description: The list as given.
  returned: always
  type: str
  sample: /etc/adrvet
mode:
  description: C(sync), or C(check) in check mode.
  returned: success
  type: str
  sample: sync
ok:
  description: Whether every target is (or, in check mode, was found) in step or was updated.
  returned: success
  type: bool
targets:
  description: One entry per target, as C(adrvet-list sync --json) reports it.
  returned: success
  type: list
  elements: dict
  contains:
    name:
      description: The section of the targets file.
      type: str
      sample: wifi
    format:
      description: The export format.
      type: str
      sample: hostapd
    output:
      description: The live file.
      type: str
      sample: /etc/hostapd/adrvet.accept
    state:
      description: C(in_step), C(updated), C(missing), C(drifted) or C(failed).
      type: str
      sample: updated
    added:
      description: Addresses the live file lacked.
      type: int
    removed:
      description: Addresses the live file had in excess.
      type: int
    message:
      description: Why a target failed or drifted, else null.
      type: str
failed_targets:
  description: The names of the targets that failed.
  returned: always
  type: list
  elements: str
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.orbitforge.adrvet.plugins.module_utils.adrvet_cli import (
    COMMON_ARGUMENT_SPEC, AdrvetCli, AdrvetError, fail)

DRIFT_STATES = ('missing', 'drifted', 'would_update')


def failure_message(failed):
    return 'sync failed for %s' % '; '.join(
        '%s (%s): %s' % (t.get('name'), t.get('output'), t.get('message') or 'no message')
        for t in failed)


def run_module(module):
    cli = AdrvetCli(module)
    params = module.params
    arguments = ['--check'] if module.check_mode else []
    if params['targets'] is not None:
        arguments += ['--targets', params['targets']]
    # Exit status 1 is a failed (or, with --check, drifted) target: the
    # document says which, so it is read rather than taken as an error.
    _, document = cli.run('sync', arguments + [params['list']], ok_codes=(0, 1))
    targets = document.get('targets') or []
    failed = [t for t in targets if t.get('state') == 'failed']
    if module.check_mode:
        changed = any(t.get('state') in DRIFT_STATES for t in targets)
    else:
        changed = bool(document.get('changed'))
    result = dict(changed=changed, list=params['list'], mode=document.get('mode'),
                  ok=bool(document.get('ok')), targets=targets,
                  failed_targets=[t.get('name') for t in failed], commands=cli.commands)
    if failed or (not module.check_mode and not document.get('ok')):
        raise AdrvetError(failure_message(failed) if failed else 'sync reported a failure',
                          **result)
    return result


def argument_spec():
    return dict(COMMON_ARGUMENT_SPEC, targets=dict(type='path'))


def main():
    module = AnsibleModule(argument_spec=argument_spec(),
                           supports_check_mode=True)
    try:
        module.exit_json(**run_module(module))
    except AdrvetError as error:
        fail(module, error, list=module.params['list'])


if __name__ == '__main__':
    main()
