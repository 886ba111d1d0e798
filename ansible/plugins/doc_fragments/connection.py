# -*- coding: utf-8 -*-
# The options every module of the collection takes to reach a gateway through korvel-cli.

from __future__ import absolute_import, division, print_function
__metaclass__ = type


class ModuleDocFragment(object):
    DOCUMENTATION = r'''
options:
  host:
    description: The module's IPv4 address, four decimal groups.
    type: str
    required: true
  port:
    description: The module's ModbusTCP port.
    type: int
    default: 502
  timeout_ms:
    description: How long to wait for each reply, in milliseconds; korvel-cli's own default, the window's, when not given.
    type: int
  retries:
    description: How many times a request is sent again after no reply; korvel-cli's own default, the window's, when not given.
    type: int
  cli_path:
    description: The korvel-cli program; found on C(PATH) when not given.
    type: path
'''
