#!/usr/bin/python3
"""Plays a test host's machine after its restart: /run is emptied (the
reboot-required flag goes), the boot is counted, and the resume unit that
the update installed runs its command with the unit's environment, without
a shell, as systemd would at boot.

    after_restart.py <host sandbox>

The host's sandbox holds units/ (VSUPT_SERVICE_DIR), reboot-required and
boots. Prints the unit's answer; exits with the unit command's exit code,
or 0 when no unit is installed.
"""

import os
import subprocess
import sys


def unit_words(text):
    """The words of an ExecStart= or Environment= value, as systemd splits them."""
    words, pos = [], 0
    while pos < len(text):
        word = ""
        if text[pos] == '"':
            pos += 1
            while pos < len(text) and text[pos] != '"':
                if text[pos] == "\\" and pos + 1 < len(text):
                    pos += 1
                word += text[pos]
                pos += 1
            pos += 1
        else:
            while pos < len(text) and text[pos] != " ":
                word += text[pos]
                pos += 1
        while pos < len(text) and text[pos] == " ":
            pos += 1
        words.append(word.replace("%%", "%").replace("$$", "$"))
    return words


def main():
    sandbox = sys.argv[1]
    for flag in ("reboot-required", "reboot-required.pkgs"):
        if os.path.exists(os.path.join(sandbox, flag)):
            os.unlink(os.path.join(sandbox, flag))
    boots_file = os.path.join(sandbox, "boots")
    boots = int(open(boots_file).read()) if os.path.exists(boots_file) else 0
    with open(boots_file, "w") as out:
        out.write("%d\n" % (boots + 1))
    unit = os.path.join(sandbox, "units", "plimo.service")
    if not os.path.exists(unit):
        print("no resume unit")
        return 0
    command, environment = [], {"PATH": os.environ.get("PATH", "/usr/bin:/bin")}
    with open(unit) as lines:
        for line in lines:
            line = line.rstrip("\n")
            if line.startswith("ExecStart="):
                command = unit_words(line[len("ExecStart="):])
            elif line.startswith("Environment="):
                for entry in unit_words(line[len("Environment="):]):
                    name, _, value = entry.partition("=")
                    environment[name] = value
    done = subprocess.run(command, env=environment, stdin=subprocess.DEVNULL, capture_output=True, text=True)
    print(done.stdout[-2000:])
    return done.returncode


if __name__ == "__main__":
    sys.exit(main())
