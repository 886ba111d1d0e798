#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: korvel_config
short_description: Bring a Korvel gateway module's configuration to an INI file
version_added: "1.0.0"
description:
  - Compares the configuration the module holds with an INI configuration file, as the KorvelService
    window saves it, and writes the file's configuration into the module only where they differ.
  - After writing, the configuration is read back and compared field by field, unless I(verify=false).
  - Runs C(korvel-cli apply) (C(korvel-cli diff) in check mode) on the node that runs the module,
    which talks ModbusTCP to the module at I(host):I(port).
  - A module that does not answer, answers with a Modbus exception or does not verify fails this host
    only, with the status text as C(msg) (for an exception followed by its name, the code in
    C(modbus_exception)). A missing file, or one with a value the program would not
    take as written, fails before anything is sent to the module.
options:
  src:
    description: The INI configuration file (sections C(IP), C(CHANNEL_0), C(CHANNEL_1)) on the node that runs the module.
    type: path
    required: true
  verify:
    description: Read the configuration back after writing and compare it with the file.
    type: bool
    default: true
extends_documentation_fragment:
  - korvel.gateway.connection
attributes:
  check_mode:
    support: full
  diff_mode:
    support: full
notes:
  - Reserved bytes of the configuration block are not compared; a write sends them as zero, as the
    window does after opening a file.
author:
  - KorvelService developers
'''

EXAMPLES = r'''
- name: Commission the cabinet's gateways
  korvel.gateway.korvel_config:
    host: "{{ korvel_host }}"
    port: "{{ korvel_port | default(502) }}"
    src: files/commissioning.ini

- name: Only report what would change
  korvel.gateway.korvel_config:
    host: 10.20.3.11
    src: files/commissioning.ini
  check_mode: true
  diff: true
'''

RETURN = r'''
changed:
  description: Whether the module's configuration differed from the file (and, outside check mode, was written).
  returned: always
  type: bool
verified:
  description: Whether the configuration read back after the write equals the file. Absent when nothing was written or I(verify=false).
  returned: when written and verified
  type: bool
config:
  description: The module's configuration afterwards (in check mode, as it is now), keyed like the INI file.
  returned: success
  type: dict
  sample: {"IP": {"ADDRESS": "192.168.127.10", "GATEWAY": "192.168.127.100", "NETMASK": "255.255.255.0", "TCP_PORT": 502},
           "CHANNEL_0": {"BAUDRATE": 115200, "PARITY": 2, "STOPBITS": 2, "SLAVE_ADDRESS": 0}}
differences:
  description: The fields that differed, each with the module's value before and the file's value after.
  returned: when changed
  type: list
  elements: dict
  sample: [{"section": "CHANNEL_0", "key": "BAUDRATE", "before": 115200, "after": 9600}]
'''

import os

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.korvel.gateway.plugins.module_utils.korvel_cli import (
    COMMON_ARGUMENT_SPEC, EXIT_DIFFERENT, EXIT_OK, diff_of, fail_from_cli, host_operand, run_cli)


def main():
    argument_spec = dict(COMMON_ARGUMENT_SPEC)
    argument_spec.update(src=dict(type='path', required=True), verify=dict(type='bool', default=True))
    module = AnsibleModule(argument_spec=argument_spec, supports_check_mode=True)
    src = module.params['src']
    if not os.path.isfile(src) or not os.access(src, os.R_OK):
        module.fail_json(msg='the configuration file %s cannot be read' % src)
    host = host_operand(module)

    if module.check_mode:
        rc, objects, err = run_cli(module, 'diff', src, host)
        if rc not in (EXIT_OK, EXIT_DIFFERENT) or not objects:
            fail_from_cli(module, rc, objects, err)
        result = objects[0]
        differences = [dict(section=d['section'], key=d['key'], before=d['b'], after=d['a'])
                       for d in result['differences']]
        response = dict(changed=bool(differences), config=result['config_b'], differences=differences)
    else:
        rc, objects, err = run_cli(module, 'apply', src, host, no_verify=not module.params['verify'])
        if rc != EXIT_OK or not objects:
            fail_from_cli(module, rc, objects, err)
        result = objects[0]
        differences = result.get('differences', [])
        response = dict(changed=result['changed'], config=result['config'], differences=differences)
        if 'verified' in result:
            response['verified'] = result['verified']

    if module._diff:
        response['diff'] = diff_of(response['differences'], 'before', 'after', host, src)
    module.exit_json(**response)


if __name__ == '__main__':
    main()
