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
        node that runs the module (replaced whole).
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
dest:
  description: The file the configuration was saved in.
  returned: when I(dest) is given
  type: str
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.korvel.gateway.plugins.module_utils.korvel_cli import (
    COMMON_ARGUMENT_SPEC, EXIT_OK, fail_from_cli, host_operand, run_cli)


def main():
    argument_spec = dict(COMMON_ARGUMENT_SPEC)
    argument_spec.update(dest=dict(type='path'))
    module = AnsibleModule(argument_spec=argument_spec, supports_check_mode=True)
    host = host_operand(module)
    dest = module.params['dest']
    response = dict(changed=False)
    for command in ('info', 'read'):
        operands = [host, '-o', dest] if command == 'read' and dest else [host]
        rc, objects, err = run_cli(module, command, *operands)
        if rc != EXIT_OK or not objects:
            fail_from_cli(module, rc, objects, err)
        result = objects[0]
        if command == 'info':
            response.update(firmware=result['firmware'], mac=result['mac'], jumper=result['jumper'])
        else:
            response.update(config=result['config'], checksum_valid=result['checksum_valid'])
            if dest:
                response['dest'] = dest
    module.exit_json(**response)


if __name__ == '__main__':
    main()
