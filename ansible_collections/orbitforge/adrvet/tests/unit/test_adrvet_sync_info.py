"""adrvet_sync reads the sync's own report (exit status 1 included) and
never runs a real sync in check mode; adrvet_info only reads."""

import pytest

from ansible_collections.orbitforge.adrvet.plugins.modules import adrvet_info, adrvet_sync


def target(name, state, message=None):
    return dict(name=name, format='hostapd', output='/peers/%s' % name, state=state, added=0,
                removed=0, message=message)


def sync_document(mode, targets):
    ok = all(t['state'] in ('in_step', 'updated') for t in targets)
    changed = any(t['state'] in ('updated', 'would_update', 'missing', 'drifted') for t in targets)
    return dict(mode=mode, ok=ok, changed=changed, targets=targets)


# (name, check mode, targets as the sync reports them, changed, fails with)
SYNCS = [
    ('all in step', False, [target('wifi', 'in_step'), target('fw', 'in_step')], False, None),
    ('one updated', False, [target('wifi', 'updated'), target('fw', 'in_step')], True, None),
    ('one failed, one updated', False,
     [target('wifi', 'failed', 'check: line 2: bad address'), target('fw', 'updated')], True,
     'wifi (/peers/wifi): check: line 2: bad address'),
    ('check: in step', True, [target('wifi', 'in_step')], False, None),
    ('check: drifted', True, [target('wifi', 'drifted', '3 addresses differ')], True, None),
    ('check: missing', True, [target('wifi', 'missing')], True, None),
    ('check: cannot tell', True, [target('wifi', 'failed', 'cannot read')], False,
     'wifi (/peers/wifi): cannot read'),
]


@pytest.mark.parametrize('name,check_mode,targets,changed,message', SYNCS,
                         ids=[c[0] for c in SYNCS])
def test_sync_reads_the_report(run, tool, tmp_path, name, check_mode, targets, changed, message):
    seen = []

    def answer(options):
        seen.append(options)
        document = sync_document('check' if options.get('--check') else 'sync', targets)
        return (0 if document['ok'] else 1), document

    tool.sync_answer = answer
    failed, result = run(adrvet_sync.main, dict(list=str(tmp_path), key='U',
                                                targets=str(tmp_path / 'targets.conf')),
                         check_mode=check_mode)
    assert [bool(o.get('--check')) for o in seen] == [check_mode]
    assert seen[0]['--targets'] == str(tmp_path / 'targets.conf')
    assert result['changed'] == changed
    assert failed == (message is not None)
    if message:
        assert message in result['msg']
        assert result['failed_targets'] == [t['name'] for t in targets if t['state'] == 'failed']
    assert [t['name'] for t in result['targets']] == [t['name'] for t in targets]


def test_sync_refuses_an_exit_status_outside_the_contract(run, tool, tmp_path):
    tool.override = (2, '', 'adrvet-list: sync: targets.conf:3: unknown key "ouput"\n')
    failed, result = run(adrvet_sync.main, dict(list=str(tmp_path), key='S'))
    assert failed
    assert 'targets.conf:3: unknown key' in result['msg']


INFO = [
    # (name, list exists, require_ok, fails)
    ('usable list', True, False, False),
    ('missing list', False, False, False),
    ('missing list, required', False, True, True),
]


@pytest.mark.parametrize('name,exists,require_ok,fails', INFO, ids=[c[0] for c in INFO])
def test_info_reports_and_changes_nothing(run, tool, tmp_path, name, exists, require_ok, fails):
    if exists:
        tool.make_list(str(tmp_path), [dict(address='52:54:00:00:00:0a', label='door')])
    failed, result = run(adrvet_info.main, dict(list=str(tmp_path), key='S',
                                                require_ok=require_ok))
    assert failed == fails
    assert not result['changed']
    assert tool.writers() == []
    if not fails:
        assert result['exists'] == exists
        assert result['ok'] == exists
        facts = result['ansible_facts']['adrvet_list_info']
        assert facts['entries'] == result['entries']
        assert [e['label'] for e in result['entries']] == (['door'] if exists else [])
        assert result['count'] == len(result['entries'])
