# -*- coding: utf-8 -*-
"""The options every module of the collection takes, documented once:
each module names this fragment in extends_documentation_fragment."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type


class ModuleDocFragment(object):
    DOCUMENTATION = r'''
options:
  list:
    description:
      - The list, as C(ADRVET) and C(adrvet-list) take it, a directory holding C(engine.dat)
        or a container file.
    type: path
    required: true
  key:
    description:
      - The key version the list is written with.
    type: str
    required: true
    choices: [S, U, s, u]
  executable:
    description:
      - The C(adrvet-list) program, a path or a name looked up on the managed host's C(PATH).
      - Set it once for every module of the collection with C(module_defaults) and the
        group C(group/orbitforge.adrvet.adrvet).
    type: str
    default: adrvet-list
'''
