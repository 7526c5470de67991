"""What ansible-doc shows must be what the modules accept: the same
options, types, defaults, choices and required flags, and examples that
use only documented options."""

import pytest
import yaml

from ansible_collections.orbitforge.adrvet.plugins.modules import adrvet_info, adrvet_list, \
    adrvet_sync

MODULES = [adrvet_list, adrvet_sync, adrvet_info]


@pytest.mark.parametrize('module', MODULES, ids=[m.__name__.rsplit('.', 1)[1] for m in MODULES])
def test_documentation_matches_argument_spec(module):
    documented = yaml.safe_load(module.DOCUMENTATION)['options']
    spec = module.argument_spec()
    assert sorted(documented) == sorted(spec)
    for name, option in spec.items():
        doc = documented[name]
        assert doc['type'] == option.get('type', 'str'), name
        assert doc.get('required', False) == option.get('required', False), name
        assert doc.get('default') == option.get('default'), name
        assert doc.get('choices') == option.get('choices'), name
        assert doc.get('elements') == option.get('elements'), name


@pytest.mark.parametrize('module', MODULES, ids=[m.__name__.rsplit('.', 1)[1] for m in MODULES])
def test_examples_use_documented_options(module):
    name = module.__name__.rsplit('.', 1)[1]
    options = set(yaml.safe_load(module.DOCUMENTATION)['options'])
    tasks = [t for t in yaml.safe_load(module.EXAMPLES) if 'orbitforge.adrvet.' + name in t]
    assert tasks, 'the examples show the module'
    for task in tasks:
        assert set(task['orbitforge.adrvet.' + name]) <= options, task['name']
    assert yaml.safe_load(module.RETURN)
