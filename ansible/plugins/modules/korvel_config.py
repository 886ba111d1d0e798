#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: korvel_config
short_description: Bring a Korvel gateway module's configuration to an INI file and per-host values
version_added: "1.0.0"
description:
  - Compares the configuration the module holds with the keys of an INI configuration file, as the
    KorvelService window saves it, and with the values of I(config), and writes the module only where
    they differ. Keys that neither gives keep the module's own values.
  - A module whose stored checksum is wrong is rewritten even when its fields match, and reported C(changed).
  - After writing, the configuration is read back and compared field by field, unless I(verify=false).
  - Runs C(korvel-cli apply) (in check mode C(korvel-cli diff)) on the node that runs the module,
    which talks ModbusTCP to the module at I(host):I(port).
  - A module that does not answer, answers with a Modbus exception or does not verify fails this host
    only, with the status text as C(msg) (for an exception followed by its name, the code in
    C(modbus_exception)); a device that does not look like a module is never written. A missing
    file, or a value the program would not take as written, fails before anything is sent.
options:
  src:
    description:
      - The INI configuration file (sections C(IP), C(CHANNEL_0), C(CHANNEL_1)) on the node that runs the
        module, shared by the gateways of a play.
      - It must not hold the gateway's own C(IP/ADDRESS) or C(IP/TCP_PORT) unless I(config) gives them,
        since one file would give every gateway of the play the same address.
    type: path
  config:
    description:
      - "Values for this gateway over I(src), templated per host from the inventory, keyed C(SECTION/KEY)
        (C(IP/ADDRESS) with the value C({{ korvel_address }})) or by section (C(CHANNEL_0) holding C(BAUDRATE))."
      - Checked as a file's values are.
    type: dict
  backup:
    description:
      - Save the configuration as read before a change, as an INI file in I(backup_dir), and return its
        name as C(backup_file). Nothing is saved when nothing changes, or in check mode.
    type: bool
    default: false
  backup_dir:
    description:
      - The folder for I(backup) on the node that runs the module; created when missing. A relative
        folder is taken from where the module runs, which with a local connection is the playbook's folder.
    type: path
    default: backup
  verify:
    description: Read the configuration back after writing and compare it with what was sent.
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
  - One of I(src) and I(config) is required.
  - Reserved bytes of the configuration block keep the module's values.
author:
  - KorvelService developers
'''

EXAMPLES = r'''
- name: Commission the cabinet's gateways, each keeping its own address
  korvel.gateway.korvel_config:
    host: "{{ korvel_host }}"
    port: "{{ korvel_port | default(502) }}"
    src: files/commissioning.ini
    config:
      CHANNEL_1/SLAVE_ADDRESS: "{{ korvel_slave | default(17) }}"
    backup: true

- name: Give a spare gateway its address
  korvel.gateway.korvel_config:
    host: 192.168.127.10
    config:
      IP:
        ADDRESS: 10.20.3.14

- name: Only report what would change
  korvel.gateway.korvel_config:
    host: 10.20.3.11
    src: files/commissioning.ini
  check_mode: true
  diff: true
'''

RETURN = r'''
changed:
  description: Whether the module differed from the file and the values, or held a wrong checksum (and, outside check mode, was written).
  returned: always
  type: bool
verified:
  description: Whether the configuration read back after the write equals what was sent. Absent when nothing was written or I(verify=false).
  returned: when written and verified
  type: bool
checksum_valid:
  description: Whether the module's stored checksum was right before the run.
  returned: success
  type: bool
config:
  description: The module's configuration afterwards (in check mode, as it is now), keyed like the INI file.
  returned: success
  type: dict
  sample: {"IP": {"ADDRESS": "10.20.3.11", "GATEWAY": "10.20.3.1", "NETMASK": "255.255.255.0", "TCP_PORT": 502},
           "CHANNEL_0": {"BAUDRATE": 115200, "PARITY": 2, "STOPBITS": 2, "SLAVE_ADDRESS": 0}}
differences:
  description: The fields that differed, each with the module's value before and the wanted value after.
  returned: when changed
  type: list
  elements: dict
  sample: [{"section": "CHANNEL_0", "key": "BAUDRATE", "before": 115200, "after": 9600}]
backup_file:
  description: The INI file holding the configuration as read before the change.
  returned: when I(backup) and changed
  type: str
  sample: backup/10.20.3.11_502_config.2026-12-07@20:31:05.ini
'''

import os
import time

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.korvel.gateway.plugins.module_utils.korvel_cli import (
    COMMON_ARGUMENT_SPEC, EXIT_DIFFERENT, EXIT_OK, IDENTITY_KEYS, check_values, config_names, config_values,
    diff_of, fail_from_cli, held_keys, host_operand, run_cli)


def wanted_differences(module_config, file_config, held, values):
    # Desired state for what the file and the values name; the module keeps the rest.
    wanted = {}
    for section, key in held:
        # A section that is not the configuration's ([NOTES]) is the file owner's.
        if key in file_config.get(section, {}):
            wanted[(section, key)] = file_config[section][key]
    for (section, key), value in values.items():
        held_value = module_config[section][key]  # check_values took the key
        try:
            wanted[(section, key)] = int(value) if isinstance(held_value, int) else str(value)
        except ValueError:
            wanted[(section, key)] = str(value)  # not a number: a change the real run refuses
    return [dict(section=section, key=key, before=module_config[section][key], after=value)
            for (section, key), value in sorted(wanted.items()) if module_config[section][key] != value]


def main():
    argument_spec = dict(COMMON_ARGUMENT_SPEC)
    argument_spec.update(src=dict(type='path'), config=dict(type='dict'), verify=dict(type='bool', default=True),
                         backup=dict(type='bool', default=False), backup_dir=dict(type='path', default='backup'))
    module = AnsibleModule(argument_spec=argument_spec, supports_check_mode=True, required_one_of=[('src', 'config')])
    src = module.params['src']
    if src and (not os.path.isfile(src) or not os.access(src, os.R_OK)):
        module.fail_json(msg='the configuration file %s cannot be read' % src)
    host = host_operand(module)
    values = config_values(module, module.params['config'] or {})
    held = held_keys(src) if src else []
    shared = [k for k in IDENTITY_KEYS if k in held and k not in values]
    if shared:
        module.fail_json(msg='%s holds the gateway\'s own %s, which one file would give every gateway alike: '
                             'give it in config (templated per host) or remove it from the file'
                         % (src, ', '.join('%s/%s' % k for k in shared)))
    values_file = check_values(module, values) if values else None
    if not src:
        # The values alone, as a file of their own.
        src = values_file
        held, values = sorted(values), {}
    sets = ['%s/%s=%s' % (section, key, value) for (section, key), value in sorted(values.items())]
    names = config_names(values_file)

    if module.check_mode:
        rc, objects, err = run_cli(module, 'diff', src, host)
        if rc not in (EXIT_OK, EXIT_DIFFERENT) or not objects:
            fail_from_cli(module, rc, objects, err, names)
        result = objects[0]
        differences = wanted_differences(result['config_b'], result['config_a'], held, values)
        checksum_valid = result.get('checksum_valid_b', True)
        response = dict(changed=bool(differences) or not checksum_valid, config=result['config_b'],
                        differences=differences, checksum_valid=checksum_valid)
    else:
        backup_file = None
        if module.params['backup']:
            backup_dir = module.params['backup_dir']
            os.makedirs(backup_dir, exist_ok=True)
            backup_file = os.path.join(backup_dir, '%s_%d_config.%s.ini' % (
                module.params['host'], module.params['port'], time.strftime('%Y-%m-%d@%H:%M:%S')))
            rc, objects, err = run_cli(module, 'read', host, '-o', backup_file)
            if rc != EXIT_OK:
                fail_from_cli(module, rc, objects, err)
        rc, objects, err = run_cli(module, 'apply', src, host, no_verify=not module.params['verify'], sets=sets)
        if rc != EXIT_OK or not objects:
            if backup_file and not any(o.get('verified') is not None for o in objects):
                os.remove(backup_file)
            fail_from_cli(module, rc, objects, err, names)
        result = objects[0]
        differences = result.get('differences', [])
        response = dict(changed=result['changed'], config=result['config'], differences=differences,
                        checksum_valid=result.get('checksum_valid', True))
        if 'verified' in result:
            response['verified'] = result['verified']
        if backup_file and result['changed']:
            response['backup_file'] = backup_file
        elif backup_file:
            os.remove(backup_file)

    if module._diff:
        response['diff'] = diff_of(response['differences'], 'before', 'after', host, module.params['src'] or 'config')
    module.exit_json(**response)


if __name__ == '__main__':
    main()
