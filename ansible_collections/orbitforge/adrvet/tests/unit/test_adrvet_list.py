"""adrvet_list: refusing bad arguments before anything runs, computing the
right change, and changing nothing the second time or in check mode."""

import pytest

from ansible_collections.orbitforge.adrvet.plugins.modules import adrvet_list

A = '52:54:00:00:00:0a'
B = '52:54:00:00:00:0b'
C = '52:54:00:00:00:0c'


def entry(address, label=None, expires=None):
    return dict(address=address, label=label, expires=expires)


@pytest.fixture
def listdir(tmp_path):
    return str(tmp_path)


BAD_ARGUMENTS = [
    ('not hex', dict(addresses=['52:54:00:00:00:0g']), 'is not a MAC address'),
    ('too short', dict(addresses=['52:54:00:00:00']), 'is not a MAC address'),
    ('too long', dict(addresses=['52:54:00:00:00:00:01']), 'is not a MAC address'),
    ('empty', dict(addresses=['']), 'is not a MAC address'),
    ('a number', dict(addresses=[525400]), 'is not a MAC address'),
    ('no address key', dict(addresses=[dict(label='x')]), 'is not a MAC address'),
    ('misspelt key', dict(addresses=[dict(address=A, lable='x')]), "unknown key(s) lable"),
    ('label not text', dict(addresses=[dict(address=A, label=7)]), 'label must be a string'),
    ('duration', dict(addresses=[dict(address=A, expires='7d')]), 'durations are not accepted'),
    ('two-digit year', dict(addresses=[dict(address=A, expires='26-12-31')]), 'is not a date'),
    ('local time', dict(addresses=[dict(address=A, expires='2026-12-31 23:59:59')]),
     'is not a date'),
    ('conflicting twice', dict(addresses=[dict(address=A, label='x'), '52-54-00-00-00-0A']),
     'is given twice'),
    ('unknown key version', dict(key='X', addresses=[A]), 'value of key must be one of'),
    ('unknown state', dict(state='gone', addresses=[A]), 'value of state must be one of'),
    ('addresses and source', dict(addresses=[A], source='/nonexistent'), 'mutually exclusive'),
    ('exact would empty', dict(state='exact', addresses=[]), 'allow_empty: true allows it'),
    ('absent would empty', dict(state='absent', addresses=[A]), 'allow_empty: true allows it'),
    ('no such executable', dict(addresses=[A], executable='/nonexistent/adrvet-list'),
     'is not an executable file'),
    ('executable not on PATH', dict(addresses=[A], executable='adrvet-list-not-installed'),
     'is not on the PATH'),
]


@pytest.mark.parametrize('name,args,message', BAD_ARGUMENTS, ids=[c[0] for c in BAD_ARGUMENTS])
def test_bad_arguments_fail_before_the_list_is_touched(run, tool, listdir, name, args, message):
    tool.make_list(listdir, [entry(A)])
    failed, result = run(adrvet_list.main, dict(dict(list=listdir, key='S'), **args))
    assert failed
    assert message in result['msg']
    assert tool.writers() == []
    assert tool.entries(listdir) == [dict(entry(A), added=None, added_by=None)]


def test_every_notation_names_the_same_address(run, tool, listdir):
    tool.make_list(listdir)
    notations = ['52:54:00:AB:CD:EF', '52-54-00-ab-cd-ef', '525400abcdef', '5254.00ab.cdef']
    failed, result = run(adrvet_list.main, dict(list=listdir, key='s', addresses=notations))
    assert not failed
    assert result['added'] == ['52:54:00:ab:cd:ef']
    assert [e['address'] for e in tool.entries(listdir)] == ['52:54:00:ab:cd:ef']
    assert all(call[3] == 'S' for call in tool.calls), 'key version passed upper-case'


# (name, listed before, arguments, added, removed, updated, listed after)
CHANGES = [
    ('present adds what is missing', [entry(A)], dict(addresses=[A, B]),
     [B], [], [], [A, B]),
    ('present sets a label', [entry(A)], dict(addresses=[dict(address=A, label='printer')]),
     [], [], [A], [A]),
    ('present leaves an unnamed label', [entry(A, 'printer')], dict(addresses=[A]),
     [], [], [], [A]),
    ('present clears a label', [entry(A, 'printer')], dict(addresses=[dict(address=A, label='')]),
     [], [], [A], [A]),
    ('a date is the end of its day', [entry(A, None, '2099-12-31T23:59:59Z')],
     dict(addresses=[dict(address=A, expires='2099-12-31')]), [], [], [], [A]),
    ('never clears an expiry', [entry(A, None, '2099-12-31T23:59:59Z')],
     dict(addresses=[dict(address=A, expires='never')]), [], [], [A], [A]),
    ('present sets an expiry', [entry(A)],
     dict(addresses=[dict(address=A, expires='2026-12-31T23:59:59Z')]), [], [], [A], [A]),
    ('absent removes only listed', [entry(A), entry(B)], dict(state='absent', addresses=[B, C]),
     [], [B], [], [A]),
    ('exact removes the others', [entry(A), entry(B)], dict(state='exact', addresses=[B, C]),
     [C], [A], [], [B, C]),
    ('exact replaces every address', [entry(A)], dict(state='exact', addresses=[B, C]),
     [B, C], [A], [], [B, C]),
    ('exact of nothing empties', [entry(A), entry(B)],
     dict(state='exact', addresses=[], allow_empty=True), [], [A, B], [], []),
    ('absent of all empties', [entry(A)], dict(state='absent', addresses=[A], allow_empty=True),
     [], [A], [], []),
    ('groups by label', [], dict(addresses=[dict(address=A, label='x'), dict(address=B, label='y'),
                                            dict(address=C, label='x')]),
     [A, B, C], [], [], [A, B, C]),
]


@pytest.mark.parametrize('name,before,args,added,removed,updated,after', CHANGES,
                         ids=[c[0] for c in CHANGES])
def test_change_then_no_change(run, tool, listdir, name, before, args, added, removed, updated,
                               after):
    tool.make_list(listdir, before)
    arguments = dict(dict(list=listdir, key='S'), **args)
    failed, result = run(adrvet_list.main, arguments)
    assert not failed, result
    assert (result['added'], result['removed'], result['updated']) == (added, removed, updated)
    assert result['changed'] == bool(added or removed or updated)
    assert result['count'] == len(after)
    assert [e['address'] for e in tool.entries(listdir)] == after

    writes = len(tool.writers())
    failed, again = run(adrvet_list.main, arguments)
    assert not failed
    assert not again['changed']
    assert (again['added'], again['removed'], again['updated']) == ([], [], [])
    assert len(tool.writers()) == writes, 'a second run writes nothing'


@pytest.mark.parametrize('name,before,args,added,removed,updated,after', CHANGES,
                         ids=[c[0] for c in CHANGES])
def test_check_mode_reports_and_writes_nothing(run, tool, listdir, name, before, args, added,
                                               removed, updated, after):
    tool.make_list(listdir, before)
    listed = tool.entries(listdir)
    failed, result = run(adrvet_list.main, dict(dict(list=listdir, key='S'), **args),
                         check_mode=True)
    assert not failed
    assert result['changed'] == bool(added or removed or updated)
    assert (result['added'], result['removed'], result['updated']) == (added, removed, updated)
    assert result['count'] == len(after)
    assert tool.writers() == []
    assert tool.entries(listdir) == listed


MISSING_LIST = [
    # (name, arguments, fails with, writers run: (command, has --create))
    ('present without create', dict(addresses=[A]), 'create: true makes it', []),
    ('present with create', dict(addresses=[A], create=True, mode='0640'), None,
     [('add', True)]),
    ('absent on no list', dict(state='absent', addresses=[A]), None, []),
    ('exact of nothing without create', dict(state='exact', addresses=[]), None, []),
    ('exact of nothing with create', dict(state='exact', addresses=[], create=True,
                                          allow_empty=True), None, [('pack', False)]),
    ('exact of nothing, not allowed empty', dict(state='exact', addresses=[], create=True),
     'allow_empty: true allows it', []),
]


@pytest.mark.parametrize('name,args,message,writers', MISSING_LIST,
                         ids=[c[0] for c in MISSING_LIST])
def test_a_missing_list(run, tool, tmp_path, name, args, message, writers):
    list_path = str(tmp_path / 'engine.dat')
    failed, result = run(adrvet_list.main, dict(dict(list=list_path, key='S'), **args))
    assert failed == (message is not None)
    if message:
        assert message in result['msg']
    else:
        assert result['created'] == bool(writers)
        assert result['changed'] == bool(writers)
    assert [(c[1], '--create' in c) for c in tool.writers()] == writers
    if 'mode' in args:
        assert all(c[c.index('--mode') + 1] == args['mode'] for c in tool.writers())


def test_source_is_copied_exactly_clearing_labels(run, tool, tmp_path):
    live, source = tmp_path / 'live', tmp_path / 'source'
    live.mkdir()
    source.mkdir()
    tool.make_list(str(live), [entry(A, 'old name'), entry(B, None, '2099-01-01T00:00:00Z'),
                               entry(C)])
    # C has expired on the source: left out, as its prune would.
    tool.make_list(str(source), [entry(A), entry(B, 'printer'),
                                 entry(C, None, '2000-01-01T00:00:00Z')])
    arguments = dict(list=str(live), key='S', state='exact', source=str(source))
    failed, result = run(adrvet_list.main, arguments)
    assert not failed, result
    assert (result['added'], result['removed'], result['updated']) == ([], [C], [A, B])
    assert [(e['address'], e['label'], e['expires']) for e in tool.entries(str(live))] == \
        [(A, None, None), (B, 'printer', None)]
    assert not any('2000-01-01T00:00:00Z' in call for call in tool.calls)
    failed, again = run(adrvet_list.main, arguments)
    assert not failed and not again['changed']


def test_diff_shows_entries_before_and_after(run, tool, listdir):
    tool.make_list(listdir, [entry(A), entry(B)])
    arguments = dict(list=listdir, key='S', state='exact',
                     addresses=[A, dict(address=C, label='door')])
    for check_mode in (True, False):
        failed, result = run(adrvet_list.main, arguments, check_mode=check_mode, diff=True)
        assert not failed
        assert result['diff']['before'] == '%s\n%s\n' % (A, B)
        assert result['diff']['after'] == '%s\n%s label=door\n' % (A, C)


TOOL_FAILURES = [
    ('usage error', (2, '', 'adrvet-list: add: unknown option --create\n'),
     'unknown option --create'),
    ('no JSON', (0, 'ok: 2 addresses\n', ''), 'does this adrvet-list know --json'),
    ('other schema', (0, '{"schema_version": 2, "command": "show", "entries": []}', ''),
     'schema_version 2'),
    ('other command', (0, '{"schema_version": 1, "command": "verify"}', ''), "command 'verify'"),
]


@pytest.mark.parametrize('name,answer,message', TOOL_FAILURES, ids=[c[0] for c in TOOL_FAILURES])
def test_tool_failures_are_reported_not_taken_for_success(run, tool, listdir, name, answer,
                                                          message):
    tool.make_list(listdir, [entry(A)])
    tool.override = answer
    failed, result = run(adrvet_list.main, dict(list=listdir, key='S', addresses=[B]))
    assert failed
    assert message in result['msg']
    assert not result['changed']
    assert tool.writers() == []


def test_a_source_that_does_not_verify_changes_nothing(run, tool, tmp_path):
    live = tmp_path / 'live'
    live.mkdir()
    tool.make_list(str(live), [entry(A)])
    failed, result = run(adrvet_list.main, dict(list=str(live), key='S', state='exact',
                                                source=str(tmp_path / 'missing')))
    assert failed
    assert 'does not verify' in result['msg'] and 'is left as it is' in result['msg']
    assert [c[1] for c in tool.calls] == ['verify']
    assert [e['address'] for e in tool.entries(str(live))] == [A]
