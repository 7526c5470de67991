"""What ansible-doc shows must be what the modules accept: the same
options, types, defaults, choices and required flags, the shared ones
documented once in the doc fragment, and examples that use only documented
options."""

import pytest
import yaml

from ansible_collections.orbitforge.adrvet.plugins.doc_fragments import adrvet as fragment
from ansible_collections.orbitforge.adrvet.plugins.module_utils.adrvet_cli import \
    COMMON_ARGUMENT_SPEC
from ansible_collections.orbitforge.adrvet.plugins.modules import adrvet_info, adrvet_list, \
    adrvet_sync

MODULES = [adrvet_list, adrvet_sync, adrvet_info]
FRAGMENT = 'orbitforge.adrvet.adrvet'
SHARED = yaml.safe_load(fragment.ModuleDocFragment.DOCUMENTATION)['options']


def documented_options(module):
    """The options ansible-doc shows: the module's own and the fragment's,
    which the module must name and must not document again."""
    documentation = yaml.safe_load(module.DOCUMENTATION)
    assert documentation.get('extends_documentation_fragment') == [FRAGMENT]
    own = documentation['options']
    assert not set(own) & set(SHARED), 'shared options documented again'
    return dict(own, **SHARED)


def test_fragment_documents_exactly_the_shared_options():
    assert sorted(SHARED) == sorted(COMMON_ARGUMENT_SPEC)


@pytest.mark.parametrize('module', MODULES, ids=[m.__name__.rsplit('.', 1)[1] for m in MODULES])
def test_documentation_matches_argument_spec(module):
    documented = documented_options(module)
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
    options = set(documented_options(module))
    tasks = [t for t in yaml.safe_load(module.EXAMPLES) if 'orbitforge.adrvet.' + name in t]
    assert tasks, 'the examples show the module'
    for task in tasks:
        assert set(task['orbitforge.adrvet.' + name]) <= options, task['name']
    assert yaml.safe_load(module.RETURN)
