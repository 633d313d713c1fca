"""Runs a program with its standard error on a pseudo-terminal.

Usage: run_on_pty.py [--stdout] <program> [arguments...]. Standard output
stays a pipe to this script's own standard output (with --stdout it goes to
the terminal too); what the program wrote to the terminal is written to this
script's standard error, and the exit status is the program's.
"""
import os
import pty
import subprocess
import sys

both = sys.argv[1] == "--stdout"
controller, terminal = pty.openpty()
child = subprocess.Popen(sys.argv[2:] if both else sys.argv[1:], stdin=subprocess.DEVNULL,
                         stdout=terminal if both else None, stderr=terminal)
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
