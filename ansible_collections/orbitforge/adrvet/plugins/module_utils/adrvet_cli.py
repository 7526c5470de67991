# -*- coding: utf-8 -*-
"""What the modules share: running adrvet-list with --json and reading its
answer, and the notations of addresses and times the modules accept."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json
import os
import re

SCHEMA_VERSION = 1

# The options every module takes; each module adds its own.
COMMON_ARGUMENT_SPEC = dict(
    list=dict(type='path', required=True),
    key=dict(type='str', required=True, choices=['S', 'U', 's', 'u']),
    executable=dict(type='str', default='adrvet-list'),
)

_SEPARATORS = re.compile(r'[:\-.\r\n]')
_HEX12 = re.compile(r'^[0-9a-fA-F]{12}$')
_DATE = re.compile(r'^\d{4}-\d{2}-\d{2}$')
_DATE_TIME = re.compile(r'^\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}Z$')


class AdrvetError(Exception):
    """A problem the module reports with fail_json: a bad argument, or
    adrvet-list failing or answering something other than the contract."""

    def __init__(self, msg, **details):
        super(AdrvetError, self).__init__(msg)
        self.msg = msg
        self.details = details


def normalize_address(text):
    """'52-54-00-AB-CD-EF', '5254.00ab.cdef', '525400abcdef' ->
    '52:54:00:ab:cd:ef', the notation adrvet-list reports; None when the text
    is no address (adrvet-list would refuse it, so we refuse it first)."""
    if not isinstance(text, str):
        return None
    digits = _SEPARATORS.sub('', text.strip())
    if not _HEX12.match(digits):
        return None
    digits = digits.lower()
    return ':'.join(digits[i:i + 2] for i in range(0, 12, 2))


def check_expiry(text):
    """Only absolute times (and 'never', which clears an expiry) are
    accepted: a duration ('7d') would move the expiry on every run, so no
    run would ever report 'unchanged'."""
    if text == 'never' or _DATE.match(text) or _DATE_TIME.match(text):
        return text
    raise AdrvetError(
        "expires '%s' is not a date (YYYY-MM-DD), a UTC time (YYYY-MM-DDTHH:MM:SSZ) or 'never'; "
        "durations are not accepted, since a playbook run again would move the expiry" % text)


def expiry_as_shown(text):
    """An expiry as adrvet-list takes it -> as `show` reports it: a date
    stands for the end of that day, UTC; 'never' for no expiry."""
    if text is None or text == 'never':
        return None
    if _DATE.match(text):
        return text + 'T23:59:59Z'
    return text


def container_path(list_path):
    """The file a LIST argument names: DIR/engine.dat for a directory, as
    ADRVET composes it, else the container file itself."""
    if os.path.isdir(list_path):
        return os.path.join(list_path, 'engine.dat')
    return list_path


def list_exists(list_path):
    return os.path.isfile(container_path(list_path))


class AdrvetCli:
    """Runs one adrvet-list binary for a module and checks its JSON."""

    def __init__(self, module):
        self.module = module
        executable = module.params.get('executable') or 'adrvet-list'
        if '/' not in executable:
            found = module.get_bin_path(executable)
            if found is None:
                raise AdrvetError('%s is not on the PATH of %s; set executable to its path'
                                  % (executable, os.uname()[1]))
            executable = found
        if not (os.path.isfile(executable) and os.access(executable, os.X_OK)):
            raise AdrvetError('executable %s is not an executable file' % executable)
        self.executable = executable
        self.key = module.params['key'].upper()
        self.commands = []

    def run(self, command, arguments, ok_codes=(0,), data=None):
        """Runs `adrvet-list COMMAND -k KEY --json ARGUMENTS...` and returns
        (exit status, document). Any exit status outside ok_codes, or an
        answer that is not one document of this command, is an AdrvetError
        carrying the tool's own message."""
        argv = [self.executable, command, '-k', self.key, '--json'] + list(arguments)
        self.commands.append(argv)
        rc, out, err = self.module.run_command(argv, data=data, binary_data=data is not None,
                                               check_rc=False)
        if rc not in ok_codes:
            raise AdrvetError('adrvet-list %s failed (exit status %d): %s'
                              % (command, rc, err.strip() or 'no message'),
                              rc=rc, stderr=err, cmd=argv)
        try:
            document = json.loads(out)
        except ValueError as exc:
            raise AdrvetError('adrvet-list %s did not answer with JSON (%s); '
                              'does this adrvet-list know --json?' % (command, exc),
                              rc=rc, stdout=out, stderr=err, cmd=argv)
        if not isinstance(document, dict) or document.get('schema_version') != SCHEMA_VERSION \
                or document.get('command') != command:
            raise AdrvetError('adrvet-list %s answered a document this module does not know '
                              '(schema_version %r, command %r)'
                              % (command, document.get('schema_version') if isinstance(document, dict) else None,
                                 document.get('command') if isinstance(document, dict) else None),
                              rc=rc, stdout=out, cmd=argv)
        return rc, document

    def show(self, list_path):
        return self.run('show', [list_path])[1]['entries']

    def verify(self, list_path):
        return self.run('verify', [list_path], ok_codes=(0, 1))[1]


def fail(module, error, **results):
    results.update(error.details)
    module.fail_json(msg=error.msg, **results)
