"""Runs a program with its standard error on a pseudo-terminal.

Usage: run_on_pty.py <program> [arguments...]. Standard output stays a pipe
to this script's own standard output; what the program wrote to the
terminal is written to this script's standard error, and the exit status is
the program's.
"""
import os
import pty
import subprocess
import sys

controller, terminal = pty.openpty()
child = subprocess.Popen(sys.argv[1:], stdin=subprocess.DEVNULL, stderr=terminal)
os.close(terminal)
seen = b""
while True:
    try:
        data = os.read(controller, 4096)
    except OSError:  # the terminal closed with the program's end
        break
    if not data:
        break
    seen += data
sys.stderr.buffer.write(seen)
sys.exit(child.wait())
