#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: korvel_info
short_description: Read a Korvel gateway module's identification and configuration
version_added: "1.0.0"
description:
  - Reads the module's information block (firmware version, MAC address, factory-configuration
    jumper) and its configuration through C(korvel-cli info) and C(korvel-cli read). Never changes
    the module.
  - A device that does not look like a module (its information block all zero, or the module's
    registers refused) fails the host.
options:
  dest:
    description:
      - Also save the configuration read as an INI file, as the KorvelService window saves it, on the
        node that runs the module (replaced whole, and only when it would change; a missing folder is
        created). In check mode nothing is saved, and C(changed) tells whether it would be.
      - An existing folder gets the file C(HOST_PORT.ini) in it, as C(korvel-cli read -o) names it.
    type: path
extends_documentation_fragment:
  - korvel.gateway.connection
attributes:
  check_mode:
    support: full
author:
  - KorvelService developers
'''

EXAMPLES = r'''
- name: What is in the cabinet
  korvel.gateway.korvel_info:
    host: "{{ korvel_host }}"
    port: "{{ korvel_port | default(502) }}"
  register: gateway

- ansible.builtin.debug:
    msg: "{{ gateway.firmware }} {{ gateway.mac }} {{ gateway.config.IP.ADDRESS }}"

- name: Keep each gateway's configuration before the shutdown
  korvel.gateway.korvel_info:
    host: "{{ korvel_host }}"
    dest: "saved/{{ inventory_hostname }}.ini"
'''

RETURN = r'''
firmware:
  description: The firmware version, major.minor.
  returned: success
  type: str
  sample: "1.3"
mac:
  description: The MAC address.
  returned: success
  type: str
  sample: "12-34-56-78-9A-BC"
jumper:
  description: Whether the factory-configuration jumper is fitted.
  returned: success
  type: bool
config:
  description: The module's configuration, keyed like the INI file.
  returned: success
  type: dict
checksum_valid:
  description: Whether the module's stored checksum is right; a wrong one means a damaged configuration.
  returned: success
  type: bool
changed:
  description: Whether I(dest) was created or replaced (in check mode, would be).
  returned: always
  type: bool
dest:
  description: The file the configuration was saved in (in check mode, would be).
  returned: when I(dest) is given
  type: str
'''

import os

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.korvel.gateway.plugins.module_utils.korvel_cli import (
    COMMON_ARGUMENT_SPEC, EXIT_OK, fail_from_cli, host_operand, run_cli)


def read(module, host, dest):
    """korvel-cli read, saving into dest what it writes when that differs from the file there (not in
    check mode); answers its JSON line and whether dest changed (would change)."""
    path = os.path.join(module.tmpdir, 'config.ini')
    rc, objects, err = run_cli(module, 'read', host, '-o', path) if dest else run_cli(module, 'read', host)
    if rc != EXIT_OK or not objects:
        fail_from_cli(module, rc, objects, err)
    if not dest:
        return objects[0], False
    with open(path, 'rb') as file:
        text = file.read()
    try:
        with open(dest, 'rb') as file:
            changed = file.read() != text
    except (IOError, OSError):
        changed = True
    if changed and not module.check_mode:
        folder = os.path.dirname(dest)
        if folder:
            try:
                os.makedirs(folder, exist_ok=True)
            except OSError as error:
                module.fail_json(msg='Ошибка создания каталога %s: %s' % (folder, error.strerror))
        module.atomic_move(path, dest)
    return objects[0], changed


def main():
    argument_spec = dict(COMMON_ARGUMENT_SPEC)
    argument_spec.update(dest=dict(type='path'))
    module = AnsibleModule(argument_spec=argument_spec, supports_check_mode=True)
    host = host_operand(module)
    dest = module.params['dest']
    if dest and os.path.isdir(dest):
        dest = os.path.join(dest, '%s_%d.ini' % (module.params['host'], module.params['port']))
    rc, objects, err = run_cli(module, 'info', host)
    if rc != EXIT_OK or not objects:
        fail_from_cli(module, rc, objects, err)
    info = objects[0]
    config, changed = read(module, host, dest)
    response = dict(changed=changed, firmware=info['firmware'], mac=info['mac'], jumper=info['jumper'],
                    config=config['config'], checksum_valid=config['checksum_valid'])
    if dest:
        response['dest'] = dest
    module.exit_json(**response)


if __name__ == '__main__':
    main()
