# -*- coding: utf-8 -*-
# Runs korvel-cli with --json for the modules of this collection: the protocol lives in the
# program, the modules only pass options and read its JSON lines back.

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import json
import os
import re

# korvel-cli's exit statuses.
EXIT_OK = 0
EXIT_DIFFERENT = 1
EXIT_USAGE = 2
EXIT_MODULE_FAILED = 3
EXIT_FILE_ERROR = 4

# The gateway's own address and port: never taken from a file that a play shares.
IDENTITY_KEYS = (('IP', 'ADDRESS'), ('IP', 'TCP_PORT'))

COMMON_ARGUMENT_SPEC = dict(
    host=dict(type='str', required=True),
    port=dict(type='int', default=502),
    # Not given: korvel-cli's own defaults, which are the window's.
    timeout_ms=dict(type='int'),
    retries=dict(type='int'),
    cli_path=dict(type='path'),
)


def find_cli(module):
    path = module.params.get('cli_path')
    if path:
        return path
    return module.get_bin_path('korvel-cli', required=True)


def run_cli(module, command, *operands, **flags):
    """Runs one korvel-cli command for the module's host; answers (exit status, JSON objects, stderr)."""
    arguments = [find_cli(module), '--json', '--port', str(module.params['port'])]
    for option, name in (('--timeout', 'timeout_ms'), ('--retries', 'retries')):
        if module.params[name] is not None:
            arguments += [option, str(module.params[name])]
    if flags.get('no_verify'):
        arguments.append('--no-verify')
    for value in flags.get('sets', ()):
        arguments += ['--set', value]
    arguments.append(command)
    arguments.extend(operands)
    rc, out, err = module.run_command(arguments)
    objects = []
    for line in out.splitlines():
        line = line.strip()
        if line:
            try:
                objects.append(json.loads(line))
            except ValueError:
                module.fail_json(msg='korvel-cli printed something that is not JSON: %s' % line, rc=rc)
    return rc, objects, err.strip()


def host_operand(module):
    """HOST:PORT for korvel-cli. A host that is no address fails here: korvel-cli diff, which check
    mode runs, takes an operand that is no address for a file name."""
    host = module.params['host']
    groups = host.split('.')
    if len(groups) != 4 or not all(re.match(r'[0-9]+\Z', group) and int(group) <= 255 for group in groups):
        module.fail_json(msg='неверный адрес модуля %s' % host)
    return '%s:%d' % (host, module.params['port'])


def fail_from_cli(module, rc, objects, err, names=()):
    """Fails the task with korvel-cli's own message: the module's status text (with the exception's
    name when the module answered with one), or what it refused. names: (pattern, replacement) pairs
    that turn what korvel-cli was given into what the play gave (a file of the values into config)."""
    def named(text):
        for pattern, replacement in names:
            text = re.sub(pattern, replacement, text)
        return text
    err = named(err)
    objects = [dict(obj, error=named(obj['error'])) if 'error' in obj else obj for obj in objects]
    for obj in objects:
        if not obj.get('ok', True):
            # "verified" comes only once the module has taken the write: it changed even though the
            # check after it failed.
            if 'error' in obj:
                msg, more = obj['error'], {}
                if 'exception_name' in obj:
                    msg = '%s: %s' % (msg, obj['exception_name'])
                    # "exception" is Ansible's own key, for a traceback.
                    more['modbus_exception'] = obj.get('exception')
                module.fail_json(msg=msg, status=obj.get('status'), changed='verified' in obj, rc=rc, **more)
            if obj.get('mismatch'):
                keys = ', '.join('%s/%s' % (m['section'], m['key']) for m in obj['mismatch'])
                module.fail_json(msg='verification failed: the module holds other values for %s' % keys,
                                 changed=True, verified=False, mismatch=obj['mismatch'], config=obj.get('config'),
                                 rc=rc)
    if rc == EXIT_USAGE:
        err = err.split('\n\n')[0]  # the message without the usage text that follows it
    module.fail_json(msg=err or 'korvel-cli ended with status %d' % rc, rc=rc)


def diff_of(differences, before_key, after_key, before_header, after_header):
    """Ansible's before/after of the differing fields, keyed SECTION/KEY."""
    before = dict(('%s/%s' % (d['section'], d['key']), d[before_key]) for d in differences)
    after = dict(('%s/%s' % (d['section'], d['key']), d[after_key]) for d in differences)
    return dict(before=before, after=after, before_header=before_header, after_header=after_header)


def config_names(values_file):
    """For fail_from_cli: the play's name for the values korvel-cli was given in a file or by --set."""
    names = [(r'в параметре --set', 'в параметре config')]
    if values_file:
        names += [(r'в файле %s(, строка \d+)?' % re.escape(values_file), 'в параметре config'),
                  (r'Файл %s' % re.escape(values_file), 'Параметр config')]
    return names


def check_values(module, values):
    """Fails the task unless korvel-cli takes every value as a file's value for a key of its own
    sections, as apply takes --set; told naming config, before any module is asked. Answers the file
    of the values, written in the module's temporary folder."""
    path = os.path.join(module.tmpdir, 'config.ini')
    with open(path, 'w', newline='') as file:
        file.write(ini_text(values))
    rc, objects, err = run_cli(module, 'diff', path, path)
    if rc != EXIT_OK or not objects:
        fail_from_cli(module, rc, objects, err, config_names(path))
    keys = objects[0]['config_a']
    unknown = ['%s/%s' % k for k in sorted(values) if k[1] not in keys.get(k[0], {})]
    if unknown:
        module.fail_json(msg='неизвестный ключ %s в параметре config' % ', '.join(unknown))
    return path


def held_keys(src):
    """The (SECTION, KEY) pairs an INI file holds, upper-case, as the program's reader finds them:
    names in any case, the first of equal sections and keys counting."""
    with open(src, 'rb') as file:
        text = file.read().decode('latin-1')  # the program's files are bytes of Windows-1251
    held = set()
    seen_sections = set()
    section = None
    for line in text.splitlines():
        line = line.strip()
        if line.startswith('[') and line.endswith(']'):
            name = line[1:-1].strip().upper()
            section = None if name in seen_sections else name
            seen_sections.add(name)
        elif section and '=' in line:
            held.add((section, line.split('=', 1)[0].strip().upper()))
    return sorted(held)


def config_values(module, config):
    """{(SECTION, KEY): value} from a dict keyed SECTION/KEY or by section; fails the task on any other shape."""
    values = {}
    for name, value in config.items():
        if isinstance(value, dict):
            pairs = [('%s/%s' % (name, key), inner) for key, inner in value.items()]
        else:
            pairs = [(name, value)]
        for key, item in pairs:
            if '/' not in key or isinstance(item, (dict, list)):
                module.fail_json(msg='config: %s: expected SECTION/KEY: value, or SECTION: {KEY: value}' % key)
            section, field = key.split('/', 1)
            if isinstance(item, bool):
                item = int(item)
            values[(section.strip().upper(), field.strip().upper())] = item
    return values


def ini_text(values):
    """An INI file holding exactly these values, with the CR LF line ends the program writes."""
    sections = {}
    for (section, key), value in sorted(values.items()):
        sections.setdefault(section, []).append('%s=%s' % (key, value))
    return ''.join('[%s]\r\n%s\r\n' % (section, '\r\n'.join(lines)) for section, lines in sections.items())
