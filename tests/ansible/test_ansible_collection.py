#!/usr/bin/env python3
"""The korvel.gateway collection as a plant runs it: built and installed with ansible-galaxy, a fleet
of simulated modules (korvel-module-sim --count) as inventory hosts plus one silent port, playbooks run
by ansible-playbook with its JSON output parsed back."""

import argparse
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

SKIP = 77
# Enough hosts to run in parallel and to tell each one's own values apart; every one more costs an
# ansible worker process in each play.
FLEET = 6
# A simulated module answers within milliseconds; the time-out only has to outlast a loaded machine.
# The silent port and the gateway that stops answering wait it out once per play.
TIMEOUT_MS = 2000

ARGS = None


def ini(baud, slave):
    # Shared by the whole fleet: no gateway's own address or port.
    return ('[IP]\r\nGATEWAY=192.168.127.100\r\nNETMASK=255.255.255.0\r\n'
            '[CHANNEL_0]\r\nBAUDRATE=%d\r\nPARITY=0\r\nSTOPBITS=1\r\n'
            '[CHANNEL_1]\r\nSLAVE_ADDRESS=%d\r\n' % (baud, slave))


PLAYBOOK = '''
- hosts: all
  gather_facts: false
  tasks:
    - korvel.gateway.korvel_config:
        host: "{{ korvel_host }}"
        port: "{{ korvel_port }}"
        src: "{{ korvel_src }}"
        cli_path: "{{ korvel_cli }}"
        timeout_ms: %d
        retries: 0
''' % TIMEOUT_MS


# Each gateway's own address and slave address from the inventory, over the shared file, and the
# configuration as read before a change kept.
PER_HOST_PLAYBOOK = '''
- hosts: all
  gather_facts: false
  tasks:
    - korvel.gateway.korvel_config:
        host: "{{ korvel_host }}"
        port: "{{ korvel_port }}"
        src: "{{ korvel_src }}"
        config:
          IP/ADDRESS: "{{ korvel_address }}"
          CHANNEL_1:
            SLAVE_ADDRESS: "{{ korvel_slave }}"
        backup: true
        backup_dir: "{{ korvel_backup_dir }}"
        cli_path: "{{ korvel_cli }}"
        timeout_ms: %d
        retries: 0
''' % TIMEOUT_MS

# korvel_modes: check or real, one run of the task each (the real run once when not given).
INFO_PLAYBOOK = '''
- hosts: all
  gather_facts: false
  tasks:
    - korvel.gateway.korvel_info:
        host: "{{ korvel_host }}"
        port: "{{ korvel_port }}"
        dest: "{{ korvel_dest | default(korvel_backup_dir ~ '/' ~ inventory_hostname ~ '.ini') }}"
        cli_path: "{{ korvel_cli }}"
      check_mode: "{{ mode == 'check' }}"
      loop: "{{ korvel_modes | default(['real']) }}"
      loop_control:
        loop_var: mode
'''

# Each case twice, in check mode and for real, in one run of ansible-playbook on one host: both must
# give the same verdict. korvel_cases: [{src, config}], a missing key not given.
BOTH_MODES_PLAYBOOK = '''
- hosts: all
  gather_facts: false
  tasks:
    - include_tasks: "{{ korvel_case_tasks }}"
      loop: "{{ korvel_cases }}"
      loop_control:
        loop_var: case
'''

BOTH_MODES_TASKS = '''
- korvel.gateway.korvel_config:
    host: "{{ korvel_host }}"
    port: "{{ korvel_port }}"
    src: "{{ case.src | default(omit) }}"
    config: "{{ case.config | default(omit) }}"
    cli_path: "{{ korvel_cli }}"
    timeout_ms: %d
    retries: 0
  check_mode: "{{ mode == 'check' }}"
  ignore_errors: true
  loop: [check, real]
  loop_control:
    loop_var: mode
''' % TIMEOUT_MS

def serve_frames(server, answer):
    """Accepts one connection and sends answer(frame) for each whole request frame (nothing for None)."""
    try:
        connection, _ = server.accept()
    except OSError:
        return
    with connection:
        pending = b''
        while True:
            data = connection.recv(4096)
            if not data:
                return
            pending += data
            while len(pending) >= 6 and len(pending) >= 6 + int.from_bytes(pending[4:6], 'big'):
                length = 6 + int.from_bytes(pending[4:6], 'big')
                frame, pending = pending[:length], pending[length:]
                reply = answer(frame)
                if reply is not None:
                    connection.sendall(reply)


def answer_writes_only(server):
    """A gateway that answers its first read with zeros (so that apply writes), takes each write of
    registers (function 16) and answers no later read."""
    reads = []

    def answer(frame):
        if frame[7] == 16:
            return frame[:4] + b'\x00\x06' + frame[6:12]
        if frame[7] == 3 and not reads:
            reads.append(frame)
            data = bytearray(2 * int.from_bytes(frame[10:12], 'big'))
            data[1] = 1  # firmware 1.0 where the information block starts: a module, not a blank device
            return frame[:4] + (3 + len(data)).to_bytes(2, 'big') + frame[6:8] + bytes([len(data)]) + data
        return None
    serve_frames(server, answer)


def answer_with_exception(server, code):
    """A gateway that answers every request with the given Modbus exception."""
    serve_frames(server, lambda frame: frame[:4] + b'\x00\x03' + frame[6:7] + bytes([frame[7] | 0x80, code]))


class AnsibleCollectionTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix='korvel-ansible-')
        cls.sim = subprocess.Popen([ARGS.sim, '--port', '0', '--count', str(FLEET)], stdout=subprocess.PIPE, text=True)
        cls.ports = []
        deadline = time.monotonic() + 20
        while len(cls.ports) < FLEET and time.monotonic() < deadline:
            line = cls.sim.stdout.readline()
            if 'listening on 127.0.0.1:' in line:
                cls.ports.append(int(line.rsplit(':', 1)[1]))
        # A port that accepts and never answers: the kernel completes the connection, nobody reads.
        cls.silent = socket.socket()
        cls.silent.bind(('127.0.0.1', 0))
        cls.silent.listen(8)

        collections = os.path.join(cls.folder, 'collections')
        subprocess.run(['ansible-galaxy', 'collection', 'build', ARGS.collection, '--output-path', cls.folder],
                       check=True, capture_output=True)
        subprocess.run(['ansible-galaxy', 'collection', 'install', '-p', collections,
                        os.path.join(cls.folder, 'korvel-gateway-1.0.0.tar.gz')], check=True, capture_output=True)
        cls.env = dict(os.environ, ANSIBLE_COLLECTIONS_PATH=collections, ANSIBLE_STDOUT_CALLBACK='json',
                       ANSIBLE_LOCAL_TEMP=os.path.join(cls.folder, 'tmp'), ANSIBLE_HOME=os.path.join(cls.folder, 'home'),
                       ANSIBLE_NOCOLOR='1', ANSIBLE_HOST_KEY_CHECKING='0')

        hosts = dict(('gw-%02d' % i, dict(korvel_host='127.0.0.1', korvel_port=port, korvel_address='10.20.3.%d' % (i + 1),
                                          korvel_slave=40 + i))
                     for i, port in enumerate(cls.ports))
        hosts['gw-silent'] = dict(korvel_host='127.0.0.1', korvel_port=cls.silent.getsockname()[1],
                                  korvel_address='10.20.3.99', korvel_slave=99)
        inventory = dict(all=dict(hosts=hosts, vars=dict(ansible_connection='local',
                                                         ansible_python_interpreter=sys.executable,
                                                         korvel_cli=ARGS.cli)))
        cls.inventory = cls.write('inventory.json', json.dumps(inventory))
        cls.playbook = cls.write('apply.yml', PLAYBOOK)
        cls.per_host = cls.write('per-host.yml', PER_HOST_PLAYBOOK)
        cls.info = cls.write('info.yml', INFO_PLAYBOOK)
        cls.backups = os.path.join(cls.folder, 'backups')
        cls.first = cls.write('first.ini', ini(9600, 17))
        cls.second = cls.write('second.ini', ini(19200, 33))

    @classmethod
    def tearDownClass(cls):
        cls.sim.kill()
        cls.sim.wait()
        cls.silent.close()
        shutil.rmtree(cls.folder, ignore_errors=True)

    @classmethod
    def write(cls, name, text):
        path = os.path.join(cls.folder, name)
        with open(path, 'w', newline='') as file:
            file.write(text)
        return path

    def play(self, src, *options, playbook=None):
        run = subprocess.run(['ansible-playbook', '-i', self.inventory, playbook or self.playbook, '--forks',
                              str(FLEET + 1), '-e', 'korvel_src=' + src, '-e', 'korvel_backup_dir=' + self.backups]
                             + list(options),
                             env=self.env, capture_output=True, text=True)
        self.assertIn(run.returncode, (0, 2), run.stderr)  # 2: some host failed
        output = json.loads(run.stdout)
        results = output['plays'][0]['tasks'][0]['hosts']
        return output['stats'], results

    def module_config(self, port):
        run = subprocess.run([ARGS.cli, '--json', 'read', '127.0.0.1:%d' % port], capture_output=True, text=True)
        return json.loads(run.stdout.splitlines()[0])

    def module_differs(self, src, port):
        return subprocess.run([ARGS.cli, 'diff', src, '127.0.0.1:%d' % port], capture_output=True).returncode

    def test_fleet(self):
        self.assertEqual(len(self.ports), FLEET)

        # First run: every module differs from the file and is written; the silent one fails alone.
        stats, results = self.play(self.first)
        self.assertEqual(sorted(h for h in stats if stats[h]['changed']), sorted('gw-%02d' % i for i in range(FLEET)),
                         results['gw-00'])
        self.assertEqual(stats['gw-silent']['failures'], 1)
        self.assertEqual(results['gw-silent']['msg'], 'Нет ответа')
        self.assertTrue(all(results['gw-%02d' % i]['verified'] for i in range(FLEET)))
        self.assertEqual(results['gw-00']['config']['CHANNEL_1']['SLAVE_ADDRESS'], 17)

        # Second run: nothing to do.
        stats, results = self.play(self.first)
        self.assertEqual([h for h in stats if stats[h]['changed']], [])
        self.assertEqual(sum(1 for h in stats if stats[h]['failures']), 1)

        # Check mode with another file: every module would change, the diff names the keys, and the
        # modules still hold the first file.
        stats, results = self.play(self.second, '--check', '--diff')
        self.assertEqual(sum(1 for h in stats if stats[h]['changed']), FLEET)
        diff = results['gw-04']['diff']
        self.assertEqual(sorted(diff['before']), ['CHANNEL_0/BAUDRATE', 'CHANNEL_1/SLAVE_ADDRESS'])
        self.assertEqual(diff['after'], {'CHANNEL_0/BAUDRATE': 19200, 'CHANNEL_1/SLAVE_ADDRESS': 33})
        self.assertEqual(diff['before']['CHANNEL_0/BAUDRATE'], 9600)
        for port in self.ports:
            self.assertEqual(self.module_differs(self.first, port), 0)

    def test_a_bad_or_missing_file_fails_before_anything_is_sent(self):
        # The window refuses REPLIES=2 and would show TIMEOUT=2 as 5: a play sends neither.
        cases = (
            (self.write('bad.ini', '[CHANNEL_0]\r\nBAUDRATE=9601\r\n'), 'BAUDRATE=9601'),
            (self.write('repeats.ini', '[CHANNEL_0]\r\nREPLIES=2\r\n'),
             'Недопустимое значение количества повторов 2. Допускаются значения 0..0'),
            (self.write('timeout.ini', '[CHANNEL_1]\r\nTIMEOUT=2\r\n'), '[CHANNEL_1] TIMEOUT=2'),
            (os.path.join(self.folder, 'missing.ini'), 'cannot be read'),
        )
        for src, told in cases:
            stats, results = self.play(src, '--limit', 'gw-03')
            self.assertEqual(stats['gw-03']['failures'], 1)
            self.assertIn(told, results['gw-03']['msg'])

    def test_a_bad_host_or_option_is_told_in_one_line(self):
        # In check mode the host is an operand of korvel-cli diff, where a text that is no address
        # would be taken for a file name; the usage text korvel-cli adds is no message for a task.
        cases = (
            (['-e', 'korvel_host=127.0.0x1', '--check'], '127.0.0x1'),
            (['-e', 'korvel_host=127.0.0.1:1502'], '127.0.0.1:1502'),
            (['-e', 'korvel_port=0', '--check'], '--port 0'),
        )
        for options, named in cases:
            stats, results = self.play(self.first, '--limit', 'gw-03', *options)
            msg = results['gw-03']['msg']
            self.assertEqual(stats['gw-03']['failures'], 1)
            self.assertIn(named, msg)
            self.assertNotIn('Ошибка открытия файла', msg)
            self.assertNotIn('\n', msg)

    def test_a_module_that_took_the_write_but_not_the_check_is_changed(self):
        # Answers writes and never the read that checks them: the gateway holds the new configuration.
        server = socket.socket()
        server.bind(('127.0.0.1', 0))
        server.listen(1)
        thread = threading.Thread(target=answer_writes_only, args=(server,), daemon=True)
        thread.start()
        stats, results = self.play(self.first, '--limit', 'gw-03', '-e', 'korvel_port=%d' % server.getsockname()[1])
        server.close()
        self.assertEqual(stats['gw-03']['failures'], 1)
        self.assertTrue(results['gw-03']['changed'], results['gw-03'])
        self.assertIn('Нет ответа', results['gw-03']['msg'])

    def play_against_exception(self, code):
        """The first play with gw-03 pointed at a server that answers every request with exception code."""
        server = socket.socket()
        server.bind(('127.0.0.1', 0))
        server.listen(1)
        threading.Thread(target=answer_with_exception, args=(server, code), daemon=True).start()
        try:
            return self.play(self.first, '--limit', 'gw-03', '-e', 'korvel_port=%d' % server.getsockname()[1])
        finally:
            server.close()

    def test_an_exception_is_told_by_its_name(self):
        stats, results = self.play_against_exception(4)
        self.assertEqual(stats['gw-03']['failures'], 1)
        self.assertEqual(results['gw-03']['msg'], 'Исключение (код: 4): отказ устройства')
        self.assertEqual(results['gw-03']['modbus_exception'], 4)
        self.assertFalse(results['gw-03']['changed'])

    def test_a_device_without_the_modules_registers_is_not_a_module(self):
        stats, results = self.play_against_exception(2)
        self.assertEqual(stats['gw-03']['failures'], 1)
        self.assertTrue(results['gw-03']['msg'].startswith('устройство не похоже на модуль'), results['gw-03'])
        self.assertFalse(results['gw-03']['changed'])

    def test_shared_file_holding_an_address_is_refused(self):
        full = self.write('full.ini', '[IP]\r\nADDRESS=192.168.127.10\r\n' + ini(9600, 17)[len('[IP]\r\n'):])
        before = self.module_config(self.ports[3])['config']
        stats, results = self.play(full, '--limit', 'gw-03')
        self.assertEqual(stats['gw-03']['failures'], 1)
        self.assertIn('IP/ADDRESS', results['gw-03']['msg'])
        self.assertEqual(self.module_config(self.ports[3])['config'], before)

    def test_per_host_values_backup_and_a_damaged_checksum(self):
        # Runs after test_fleet: the fleet holds the first file.
        stats, results = self.play(self.second, playbook=self.per_host)
        self.assertEqual(sorted(h for h in stats if stats[h]['changed']), sorted('gw-%02d' % i for i in range(FLEET)),
                         results['gw-00'])
        for i, port in enumerate(self.ports):
            config = self.module_config(port)['config']
            self.assertEqual(config['IP']['ADDRESS'], '10.20.3.%d' % (i + 1))
            self.assertEqual(config['CHANNEL_1']['SLAVE_ADDRESS'], 40 + i)
            self.assertEqual(config['CHANNEL_0']['BAUDRATE'], 19200)
        backups = sorted(os.listdir(self.backups))
        self.assertEqual(len(backups), FLEET)
        with open(results['gw-04']['backup_file'], 'rb') as file:
            saved = file.read()
        self.assertIn(b'BAUDRATE=9600', saved)
        self.assertIn(b'SLAVE_ADDRESS=17', saved)

        # The checksum register zeroed behind the tool's back: repaired, and told as a change; the others
        # have nothing to change and get no backup.
        damaged = self.ports[5]
        with socket.create_connection(('127.0.0.1', damaged)) as connection:
            connection.sendall(b'\x00\x01\x00\x00\x00\x06\xff\x06' + (139).to_bytes(2, 'big') + b'\x00\x00')
            connection.recv(64)
        self.assertFalse(self.module_config(damaged)['checksum_valid'])
        stats, results = self.play(self.second, playbook=self.per_host)
        self.assertEqual([h for h in stats if stats[h]['changed']], ['gw-05'])
        self.assertFalse(results['gw-05']['checksum_valid'])
        self.assertEqual(len(os.listdir(self.backups)), FLEET + 1)
        self.assertTrue(self.module_config(damaged)['checksum_valid'])

        stats, results = self.play(self.second, '--limit', 'gw-02', playbook=self.info)
        self.assertTrue(results['gw-02']['changed'])  # the file is new
        with open(os.path.join(self.backups, 'gw-02.ini'), 'rb') as file:
            self.assertIn(b'ADDRESS=10.20.3.3', file.read())

    def test_check_mode_gives_the_real_runs_verdict(self):
        notes = self.write('notes.ini', '[NOTES]\r\nWHO=me\r\n' + ini(9600, 21))
        typo = self.write('typo.ini', '[CHANNEL_0]\r\nBAUDRATE=9600\r\nTIMOUT=300\r\n')
        cases = (
            # (src, config, fails, in the message, not in the message)
            (notes, None, False, None, None),
            (typo, None, True, 'TIMOUT в файле ' + typo + ', строка 3', None),
            (notes, {'CHANNEL_0/TIMEOUT': 300, 'CHANNEL_0/TIMOUT': 300}, True, 'TIMOUT в параметре config', '--set'),
            (None, {'CHANNEL_1/SLAVE_ADDRESS': 22, 'CHANNEL_1/TIMOUT': 300}, True, 'TIMOUT в параметре config',
             'config.ini'),
            (None, {'CHANNEL_1/TIMEOUT': 2}, True, 'TIMEOUT=2 в параметре config', 'config.ini'),
            (None, {'NOTES/WHO': 'me', 'CHANNEL_1/SLAVE_ADDRESS': 22}, True,
             'неизвестный ключ NOTES/WHO в параметре config', None),
        )
        port = self.ports[3]
        before = self.module_config(port)['config']
        tasks = self.write('both-modes.yml', BOTH_MODES_TASKS)
        playbook = self.write('both-modes-play.yml', BOTH_MODES_PLAYBOOK)
        listed = [dict((k, v) for k, v in (('src', src), ('config', config)) if v) for src, config, *_ in cases]
        run = subprocess.run(['ansible-playbook', '-i', self.inventory, playbook, '--limit', 'gw-03',
                              '-e', json.dumps(dict(korvel_cases=listed, korvel_case_tasks=tasks))],
                             env=self.env, capture_output=True, text=True)
        tasks_run = json.loads(run.stdout)['plays'][0]['tasks'][1:]
        self.assertEqual(len(tasks_run), len(cases), run.stdout[-2000:])
        for (src, config, fails, told, never), task in zip(cases, tasks_run):
            check, real = task['hosts']['gw-03']['results']
            for result in (check, real):
                self.assertEqual(bool(result.get('failed')), fails, (src, config, result))
                self.assertNotIn('Traceback', result.get('module_stderr', ''))
                if told:
                    self.assertIn(told, result['msg'])
                if never:
                    self.assertNotIn(never, result['msg'])
            after = self.module_config(port)['config']
            if fails:
                self.assertEqual(after, before)  # nothing written
            else:
                self.assertEqual((check['changed'], check['differences']), (real['changed'], real['differences']))
                self.assertEqual(after, real['config'])
            before = after

    def test_info_saves_dest_only_outside_check_mode_and_tells_a_change(self):
        dest = os.path.join(self.folder, 'saved', 'new', 'gw-02.ini')
        modes = dict(korvel_dest=dest, korvel_backup_dir=self.backups, korvel_modes=['check', 'real', 'check', 'real'])
        run = subprocess.run(['ansible-playbook', '-i', self.inventory, self.info, '--limit', 'gw-02',
                              '-e', json.dumps(modes)], env=self.env, capture_output=True, text=True)
        self.assertEqual(run.returncode, 0, run.stdout[-2000:])
        results = json.loads(run.stdout)['plays'][0]['tasks'][0]['hosts']['gw-02']['results']
        self.assertEqual([r['changed'] for r in results], [True, True, False, False])
        with open(dest, 'rb') as file:
            self.assertIn(b'[CHANNEL_1]', file.read())

    def test_documentation_renders(self):
        for name in ('korvel_config', 'korvel_info'):
            run = subprocess.run(['ansible-doc', 'korvel.gateway.' + name], env=self.env, capture_output=True, text=True)
            self.assertEqual(run.returncode, 0, run.stderr)
            self.assertIn('host', run.stdout)
            self.assertIn('EXAMPLES', run.stdout)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument('--cli', required=True)
    parser.add_argument('--sim', required=True)
    parser.add_argument('--collection', required=True)
    ARGS, rest = parser.parse_known_args()
    if not shutil.which('ansible-playbook'):
        print('ansible-core is not installed (scripts/bootstrap installs it): skipped')
        return SKIP
    result = unittest.main(argv=[sys.argv[0]] + rest, exit=False, verbosity=2).result
    return 0 if result.wasSuccessful() else 1


if __name__ == '__main__':
    sys.exit(main())
