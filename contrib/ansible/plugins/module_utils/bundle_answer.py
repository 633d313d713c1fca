# -*- coding: utf-8 -*-
# Copyright: contributors to plimo
# GNU General Public License v3.0+ (see https://www.gnu.org/licenses/gpl-3.0.txt)
"""Talks to the bundle applicator through its service host and reads its answers.

Every command of the update plug-in answers with a status log: a BundleLog
element whose SMStatus carries the status code and its message, followed by one
Package element per package that the update reached. This module runs the
service host without a shell, finds that element in its output, and turns it
into the plain data that the modules return.
"""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json
import os
import shutil
import xml.etree.ElementTree as ElementTree

DEFAULT_SERVICE_HOST = "/usr/bin/zuasvchost"
PLUGIN_NAME = "plimo"

# What every status code means to an orchestrator. Codes absent from all three
# sets below are successes.
KNOWN_CODES = frozenset([0] + list(range(3072, 3093)))
FAILURE_CODES = frozenset([3072, 3075, 3076, 3077, 3079, 3080, 3081, 3084, 3085,
                           3086, 3088, 3089, 3090, 3092])
REBOOT_CODES = frozenset([3073, 3074, 3078, 3084])
SELF_RESTART_CODES = frozenset([3082, 3083])

# The exit code that the console front end ends with for a status code, for an
# update and for a progress query; any other code gives 255.
UPDATE_EXIT_CODES = {0: 0, 3072: 3, 3073: 4, 3074: 5, 3075: 2, 3076: 1, 3077: 6,
                     3079: 3, 3084: 8, 3085: 7}
PROGRESS_EXIT_CODES = {0: 0, 3077: 0, 3080: 1, 3085: 7}

PACKAGE_FAILED = 5
NO_UPDATE = 3080

# The final status codes of an update that has been applied: success, and
# success with packages that are always skipped (tar.gz).
APPLIED_CODES = frozenset([0, 3087])

# The first bytes of a zip archive: a local file header, or the end record
# of an empty archive.
ZIP_MAGIC = (b"PK\x03\x04", b"PK\x05\x06")


class AnswerError(Exception):
    """The service host could not be run or gave no status log to read."""


def refusal(reason, **fields):
    """The fields of a failure without an answer of the applicator."""
    result = dict(msg=reason, reason=reason, status=None, message=None, changed=False)
    result.update(fields)
    return result


def bundle_kind(path):
    """What the bundle path is: "directory", "definition" or "archive".

    A file is a definition by its .xml name and an archive by its first
    bytes; anything else raises ValueError with the reason.
    """
    if os.path.isdir(path):
        return "directory"
    if path.lower().endswith(".xml") and os.path.isfile(path):
        return "definition"
    try:
        with open(path, "rb") as bundle:
            head = bundle.read(4)
    except (IOError, OSError) as error:
        raise ValueError("the bundle path %s cannot be read: %s" % (path, error))
    if head in ZIP_MAGIC:
        return "archive"
    raise ValueError("the bundle path %s is neither a bundle directory, a bundle definition (.xml) "
                     "nor a zip archive" % path)


def find_service_host(path=None):
    """The service host to run: the given path, else the one on PATH, else the default."""
    if path:
        return path
    return shutil.which("zuasvchost") or DEFAULT_SERVICE_HOST


def command_vector(command, keys):
    """The key=value entries for a command; keys whose value is None are left out."""
    vector = ["zuacmd=%s" % command]
    for key, value in keys:
        if value is None:
            continue
        if isinstance(value, bool):
            value = "true" if value else "false"
        vector.append("%s=%s" % (key, value))
    return vector


def run_command(module, service_host, command, keys):
    """Runs one plug-in command and answers the parsed status log.

    Raises AnswerError when the program is missing or its output holds no
    status log (for example when the plug-in itself cannot be found).
    """
    if not (os.path.isfile(service_host) and os.access(service_host, os.X_OK)):
        raise AnswerError("the service host %s does not exist or is not executable" % service_host)
    argv = [service_host, PLUGIN_NAME] + command_vector(command, keys)
    rc, stdout, stderr = module.run_command(argv, check_rc=False)
    try:
        return parse_answer(stdout)
    except AnswerError as error:
        detail = (stderr or "").strip() or (stdout or "").strip()[-400:] or "no output"
        raise AnswerError("%s gave no status log for '%s' (exit code %d): %s; %s"
                          % (service_host, command, rc, error, detail))


def answer_text(output):
    """The BundleLog element of the output: the answer is the last thing printed.

    Inside the answer every "<" of a text is escaped, so the last literal
    "<BundleLog" in the output begins the root element.
    """
    start = (output or "").rfind("<BundleLog")
    if start < 0:
        raise AnswerError("the output holds no BundleLog element")
    return output[start:].strip()


def parse_answer(output):
    """Parses a status log answer into a dictionary (see answer_fields)."""
    try:
        root = ElementTree.fromstring(answer_text(output))
    except ElementTree.ParseError as error:
        raise AnswerError("the answer is not well-formed XML (%s)" % error)
    status = root.find("SMStatus")
    if status is None:
        raise AnswerError("the answer has no SMStatus element")
    validation = root.find("Validation")
    return {
        "status": to_int(status.get("result"), "the SMStatus result"),
        "message": (status.text or "").strip(),
        "update_id": root.get("update-id"),
        "progress": optional_int(root.find("Progress"), "value"),
        "reboot_count": optional_int(root.find("rebootCount"), "rebootCount") or 0,
        "packages": [package_fields(element) for element in root.findall("Package")],
        "system_supported": optional_bool(validation, "system-supported"),
        "os_supported": optional_bool(validation, "os-supported"),
    }


def to_int(text, what):
    """The decimal number of a text, or AnswerError naming what was read."""
    try:
        return int(text)
    except (TypeError, ValueError):
        raise AnswerError("%s is not a number: %r" % (what, text))


def optional_int(element, attribute):
    """The number in an attribute of an optional element; None without the element."""
    if element is None:
        return None
    return to_int(element.get(attribute), "the %s attribute %s" % (element.tag, attribute))


def optional_bool(element, attribute):
    """A boolean attribute of an optional element; None without it."""
    if element is None or element.get(attribute) is None:
        return None
    return element.get(attribute) == "true"


def package_fields(element):
    """One package entry: release id, path, type, state, status, exit code and log."""
    status = element.find("Status")
    status = status if status is not None else ElementTree.Element("Status")
    logs = element.findall("PkgLog")
    last_log = logs[-1] if logs else None
    return {
        "release_id": element.get("releaseID"),
        "path": element.get("path"),
        "type": element.get("packageType"),
        "state": status.get("state"),
        "status": int_or_none(status.get("status")),
        "exit_code": int_or_none(status.get("code")),
        "os_error_code": int_or_none(last_log.get("osErrCode")) if last_log is not None else None,
        "log": "\n\n".join((log.text or "").strip() for log in logs if (log.text or "").strip()),
    }


def int_or_none(text):
    """A decimal number, or None for an absent or unreadable attribute."""
    try:
        return int(text)
    except (TypeError, ValueError):
        return None


def failure_reason(answer):
    """Why an answer is a failure, or None when it is not.

    Besides the failure codes, a package entry that failed and a run whose
    progress stopped short without a pending resume make an answer a failure,
    whatever its status code says. The reason always names the status and
    its message.
    """
    code = answer["status"]
    if code not in KNOWN_CODES:
        return "unknown status code %d (%s)" % (code, answer["message"] or "no message")
    told = "status %d: %s" % (code, answer["message"] or ("Success" if code == 0 else "no message"))
    if code in FAILURE_CODES:
        return told
    failed = [p["release_id"] or p["path"] for p in answer["packages"] if p["status"] == PACKAGE_FAILED]
    if failed:
        return "%s; but packages failed: %s" % (told, ", ".join(failed))
    if answer["progress"] is not None and not answer_resume_pending(answer):
        return "%s; but the run over the packages ended early at %d%%" % (told, answer["progress"])
    return None


def answer_resume_pending(answer):
    """Whether the update answered waits for its resume after a restart.

    Only the branch that installs the resume service counts a restart, so a
    reboot count in an update's answer means the update goes on after it.
    """
    return answer["status"] in SELF_RESTART_CODES or answer["reboot_count"] > 0


def package_ran(package):
    """Whether a package was started: it completed or was left in progress."""
    return package["state"] in ("complete", "in-progress")


def module_result(answer, exit_codes):
    """The fields that both modules return for one answer."""
    reason = failure_reason(answer)
    result = dict(answer)
    result.update({
        "exit_code": exit_codes.get(answer["status"], 255),
        "changed": any(package_ran(p) for p in answer["packages"]),
        "failed": reason is not None,
        "reboot_required": answer["status"] in REBOOT_CODES,
        "resume_pending": answer_resume_pending(answer),
    })
    if reason is not None:
        result["msg"] = reason
    return result


def locate(module, service_host, update_id):
    """The log of an update and whether it is the final log of the update.

    The update under way is asked for first: when it carries this update id,
    the update has not ended. Otherwise the final log of the id is asked for.
    Without an update id, the update under way.
    """
    current = run_command(module, service_host, "progress", [])
    if not update_id:
        return current, False
    if current["status"] != NO_UPDATE and current["update_id"] == update_id:
        return current, False
    stored = run_command(module, service_host, "progress", [("updateid", update_id)])
    return stored, stored["status"] != NO_UPDATE and stored["update_id"] == update_id


def applied(answer):
    """Whether a final log records an update that was applied."""
    return answer["status"] in APPLIED_CODES and failure_reason(answer) is None


def package_line(package, outcome=None):
    """One line of the diff: the package and what happened to it."""
    name = package["release_id"] or package["path"]
    if outcome is None:
        outcome = "%s, exit code %s" % (package["state"], package["exit_code"])
    return "%s (%s): %s\n" % (name, package["path"], outcome)


def host_system_id(module, service_host):
    """The host's system identifier as plimo-sysid reads it: hexadecimal, as a
    bundle's systemID names it, "0" when the firmware gives none; None when
    the tool is not installed beside the service host or on PATH, or gives no
    answer."""
    tool = os.path.join(os.path.dirname(service_host), "plimo-sysid")
    if not os.access(tool, os.X_OK):
        tool = shutil.which("plimo-sysid")
    if not tool:
        return None
    rc, stdout, dummy = module.run_command([tool, "--json"], check_rc=False)
    if rc not in (0, 1):
        return None
    try:
        return str(json.loads(stdout)["system_id"])
    except (ValueError, KeyError, TypeError):
        return None
