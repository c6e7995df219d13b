#!/usr/bin/env python3
"""Runs the real program on a pseudo-terminal, as a person runs it, and checks
what reaches the screen: the menu before any key is pressed, and after each
clearing of the screen the start-up warnings (until the first backup) or the
last backup's result. A Windows program (.exe) runs under wine, on wine's
console.

    terminal_test.py PROGRAM
"""
import glob
import os
import pty
import select
import shutil
import sys
import termios
import time

program = os.path.abspath(sys.argv[1])
windows = program.endswith('.exe')
encoding = 'utf-8'
failures = 0


def fail(message):
    global failures
    failures += 1
    print('FAIL: ' + message)


class Terminal:
    """The program on a pseudo-terminal of its own, with what it has shown."""

    def __init__(self, environment):
        command = [shutil.which('wine'), program] if windows else [program]
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            if windows:
                # Enter reaches wine's console as the carriage return it is.
                attributes = termios.tcgetattr(0)
                attributes[0] &= ~termios.ICRNL
                termios.tcsetattr(0, termios.TCSANOW, attributes)
            os.execve(command[0], command, environment)
        self.shown = b''

    def read_for(self, seconds, until=None):
        """Collects what is shown for `seconds`, or until `until` (a text) is."""
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            if until is not None and until.encode(encoding) in self.shown:
                return True
            ready, _, _ = select.select([self.fd], [], [], 0.02)
            if ready:
                try:
                    self.shown += os.read(self.fd, 1 << 16)
                except OSError:
                    break
        return until is None or until.encode(encoding) in self.shown

    def press(self, key):
        """Types `key`, then Enter."""
        os.write(self.fd, (key + ('\r' if windows else '\n')).encode(encoding))

    def count(self, text):
        return self.shown.count(text.encode(encoding))

    def close(self):
        os.kill(self.pid, 9)
        os.waitpid(self.pid, 0)
        os.close(self.fd)


def environment(fast=False):
    env = dict(os.environ, LC_ALL='C.UTF-8', TERM='xterm')
    # No dump tool to be found: each backup fails at once.
    if not windows:
        env['PATH'] = '/nonexistent'
    if fast:
        env['LD_PRELOAD'] = glob.glob('/usr/lib/*/faketime/libfaketime.so.1')[0]
        env['FAKETIME'] = '+0 x21600'
        # The sanitizers' build is preloaded with faketime all the same.
        env['ASAN_OPTIONS'] = env.get('ASAN_OPTIONS', '') + ':verify_asan_link_order=0'
    if windows:
        env['WINEPATH'] = 'C:\\nonexistent'
    return env


title = '============mysql自动备份程序==============='
no_database = '警告：尚未设置数据库名，请先选择菜单1'
failed = '备份失败，原备份文件保持不变，退出状态：127'

# The menu is on the screen before anything is typed.
terminal = Terminal(environment())
started = time.monotonic()
if terminal.read_for(1.5 if windows else 1, until=title):
    print('ok: the menu before any key, after %.2f s' % (time.monotonic() - started))
else:
    fail('no menu on the screen before a key: %r' % terminal.shown[:200])
terminal.press('3')
terminal.close()

# A clearing brings back the warnings until the first backup, then its result.
# On the fast clock a day passes in four seconds; with no tool to be found,
# each backup fails.
terminal = Terminal(environment(fast=True))
terminal.read_for(5, until=title)
terminal.press('2')
if not terminal.read_for(60, until=failed):
    fail('no backup within a minute: %r' % terminal.shown[-300:])
warnings_before = terminal.count(no_database)
terminal.read_for(30, until='上次备份时间')
terminal.read_for(1)
if warnings_before < 2:
    fail('the warning did not come back after a clearing (%d times)' % warnings_before)
if terminal.count(failed) < 2 or terminal.count('上次备份时间') < 1:
    fail('the last result did not come back after a clearing: %d times' % terminal.count(failed))
else:
    print('ok: a clearing brings back the warnings, then the last result')
terminal.close()

# On Windows a character typed that the program's encoding (GBK) lacks is
# said at once, not turned into "?" and passed on.
if windows:
    terminal = Terminal(environment())
    terminal.read_for(5, until=title)
    terminal.press('1 127.0.0.1 root Contrase\u00f1a shop C:/ shop 2')
    warning = '警告：输入的内容含有当前代码页无法表示的字符：数据库密码'
    if terminal.read_for(10, until=warning):
        print('ok: a character GBK lacks is warned of')
    else:
        fail('no warning for a character GBK lacks: %r' % terminal.shown[-400:])
    terminal.close()

print('terminal: %d failed' % failures)
sys.exit(1 if failures else 0)
