"""Runs the modules in-process against a stand-in for adrvet-list that
answers as its --json contract says, keeps its lists in memory and records
every command line, so that tests can see what a module asked for."""

import io
import json
import os
import sys

import pytest

# The directory holding ansible_collections/ makes the collection importable.
sys.path.insert(0, os.path.abspath(os.path.join(os.path.dirname(__file__), *(['..'] * 5))))

from ansible.module_utils import basic  # noqa: E402
from ansible.module_utils.common.text.converters import to_bytes  # noqa: E402


class FakeAdrvetList:
    """The command runner of the modules. Lists are dicts address -> entry;
    a list that exists has a file on disk, since modules look there."""

    def __init__(self):
        self.lists = {}
        self.calls = []
        self.sync_answer = None
        self.override = None  # (rc, stdout, stderr) for the next call

    @staticmethod
    def container(path):
        return os.path.join(path, 'engine.dat') if os.path.isdir(path) else path

    def make_list(self, path, entries=()):
        with open(self.container(path), 'w') as handle:
            handle.write('stand-in container\n')
        self.lists[self.container(path)] = {e['address']: dict(
            {'label': None, 'expires': None, 'added': None, 'added_by': None}, **e) for e in entries}

    def entries(self, path):
        return sorted(self.lists[self.container(path)].values(), key=lambda e: e['address'])

    def writers(self):
        return [c for c in self.calls if c[1] in ('add', 'remove', 'pack')]

    def __call__(self, args, data=None, **_):
        self.calls.append(list(args))
        if self.override is not None:
            answer, self.override = self.override, None
            return answer
        command, options, operands = self.parse(args[1:])
        handler = getattr(self, 'cmd_' + command)
        return handler(options, operands, data or '')

    @staticmethod
    def parse(words):
        command, options, operands = words[0], {}, []
        takes_value = ('-k', '--label', '--expires', '--wait', '--mode', '--targets')
        i = 1
        while i < len(words):
            word = words[i]
            if word in takes_value:
                options[word] = words[i + 1]
                i += 2
                continue
            if word.startswith('--'):
                options[word] = True
            else:
                operands.append(word)
            i += 1
        assert options.get('--json'), 'every command is run with --json'
        return command, options, operands

    @staticmethod
    def answer(document):
        return 0, json.dumps(dict(document, schema_version=1)), ''

    def cmd_show(self, options, operands, data):
        path = self.container(operands[0])
        if path not in self.lists:
            return 1, '', 'adrvet-list: %s: cannot open\n' % path
        return self.answer(dict(command='show', list=operands[0], entries=self.entries(operands[0])))

    def cmd_verify(self, options, operands, data):
        path = self.container(operands[0])
        ok = path in self.lists
        return (0 if ok else 1), json.dumps(dict(
            schema_version=1, command='verify', list=operands[0], ok=ok,
            addresses=len(self.lists[path]) if ok else None, answer=None if ok else -1,
            problem=None if ok else 'missing', metadata=None)), ''

    def write(self, command, options, list_path, new, report):
        path = self.container(list_path)
        report.update(schema_version=1, command=command, list=list_path,
                      dry_run=bool(options.get('--dry-run')), count=len(new))
        report.setdefault('created', path not in self.lists)
        for key in ('added', 'removed', 'updated', 'unchanged'):
            report.setdefault(key, [])
        if not options.get('--dry-run'):
            if path not in self.lists:
                open(path, 'w').close()
            self.lists[path] = new
        return 0, json.dumps(report), ''

    @staticmethod
    def value(option, options):
        """What `show` reports after --label/--expires: '' and 'never'
        clear, a date is the end of that day."""
        text = options.get(option)
        if text in (None, '', 'never'):
            return None
        if option == '--expires' and len(text) == 10:
            return text + 'T23:59:59Z'
        return text

    def cmd_add(self, options, operands, data):
        list_path = operands[0]
        path = self.container(list_path)
        if path not in self.lists and not options.get('--create'):
            return 1, '', 'adrvet-list: %s: no such list\n' % path
        new = {a: dict(e) for a, e in self.lists.get(path, {}).items()}
        report = dict(added=[], updated=[], unchanged=[])
        for address in data.split():
            entry = new.get(address)
            if entry is None:
                new[address] = dict(address=address, label=self.value('--label', options),
                                    expires=self.value('--expires', options), added=None,
                                    added_by=None)
                report['added'].append(address)
                continue
            changed = False
            for option, key in (('--label', 'label'), ('--expires', 'expires')):
                if option in options and entry[key] != self.value(option, options):
                    entry[key] = self.value(option, options)
                    changed = True
            report['updated' if changed else 'unchanged'].append(address)
        return self.write('add', options, list_path, new, report)

    def cmd_remove(self, options, operands, data):
        list_path = operands[0]
        path = self.container(list_path)
        new = {a: dict(e) for a, e in self.lists[path].items()}
        report = dict(removed=[], unchanged=[])
        for address in data.split():
            report['removed' if new.pop(address, None) else 'unchanged'].append(address)
        if not new and not options.get('--allow-empty'):
            return 1, '', 'adrvet-list: remove: the list would be empty; nothing changed\n'
        return self.write('remove', options, list_path, new, report)

    def cmd_pack(self, options, operands, data):
        if not options.get('--allow-empty'):
            return 1, '', 'adrvet-list: pack: no address; nothing written\n'
        assert operands[0] == '-'
        return self.write('pack', options, operands[1], {}, dict(added=[]))

    def cmd_sync(self, options, operands, data):
        rc, document = self.sync_answer(options)
        return rc, json.dumps(dict(document, schema_version=1, command='sync', list=operands[0])), ''


@pytest.fixture
def tool(monkeypatch):
    fake = FakeAdrvetList()
    monkeypatch.setattr(basic.AnsibleModule, 'run_command', fake)
    return fake


@pytest.fixture
def run(monkeypatch, capsys):
    """run(main, args, check_mode=False, diff=False) -> (failed, result)."""

    def runner(main, args, check_mode=False, diff=False):
        arguments = dict(executable='/bin/true')
        arguments.update(args)
        arguments.update(_ansible_check_mode=check_mode, _ansible_diff=diff,
                         _ansible_remote_tmp='/tmp', _ansible_keep_remote_files=False)
        arguments = {k: v for k, v in arguments.items() if v is not None}
        monkeypatch.setattr(basic, '_ANSIBLE_ARGS',
                            to_bytes(json.dumps({'ANSIBLE_MODULE_ARGS': arguments})))
        monkeypatch.setattr(sys, 'stdin', io.StringIO())
        with pytest.raises(SystemExit):
            main()
        result = json.loads(capsys.readouterr().out)
        return bool(result.get('failed')), result

    return runner
