#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: contributors to plimo
# GNU General Public License v3.0+ (see https://www.gnu.org/licenses/gpl-3.0.txt)

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: bundle_update
short_description: Apply an update bundle on the host with the bundle applicator
version_added: "1.0.0"
description:
  - Applies a bundle of firmware, driver and software update packages that is already on the
    host, through the service host C(zuasvchost) of the bundle applicator, and reports the
    status log that the update answers.
  - The machine is never restarted unless C(reboot=true); by default a package that needs a
    restart makes the module return C(reboot_required=true) and leaves the restart to the play.
    With C(reboot=orchestrator) the play restarts the machine and the applicator's resume
    service runs the remaining packages after the restart.
  - Idempotent by update id. When the final log of I(update_id) records an update that was
    applied, nothing runs and the module returns C(changed=false) and C(already_applied=true)
    with the recorded result; I(force_rerun) runs the bundle again under a new update id.
  - In check mode the bundle is only validated against the host and the packages that would
    run are listed; nothing is written.
options:
  path:
    description:
      - The bundle on the host, as a bundle directory, the definition file inside a bundle
        directory, or a zipped bundle package.
      - A file counts as a definition by its C(.xml) name and as a zipped bundle by its first
        bytes; any other file is refused.
    type: path
    required: true
  definition:
    description:
      - Name of the bundle definition file inside the bundle directory; used when I(path) is a
        directory.
    type: str
    default: bundle.xml
  relocation:
    description: Relocation file that says where packages lie outside the bundle directory.
    type: path
  update_id:
    description:
      - Identifier of the update. The final log of the update is kept under this name, and
        M(plimo.bundle.bundle_progress) finds it with it.
      - An update id whose final log records success (status 0 or 3087) is not run again.
    type: str
  force_rerun:
    description:
      - Run the bundle even when the final log of I(update_id) records that it was applied. The
        run gets the update id C(<update_id>-<n>) with the first free I(n) from 2, so that no
        final log is overwritten; the module returns the id it used.
    type: bool
    default: false
  reboot:
    description:
      - Who restarts the machine when a package needs it.
      - C(false) - nobody; the module returns C(reboot_required=true) and the update ends.
      - C(true) - the applicator restarts the machine itself and resumes the update after the
        restart. The call may then never return to the controller; run it with C(async) and
        C(poll=0) and follow it with M(plimo.bundle.bundle_progress).
      - C(orchestrator) - the applicator installs its resume service and counts the restart as
        with C(true), but leaves the restart to the play (key C(callerreboot)); the module
        returns C(resume_pending=true). Restart the host, then wait with
        M(plimo.bundle.bundle_progress) for the final log; never run the update again.
    type: raw
    default: false
  force:
    description: Run packages even when they report that they do not apply.
    type: bool
    default: false
  ignore:
    description: Run the bundle without checking that every package is present.
    type: bool
    default: false
  continue_on_failure:
    description: Go on with the next package after a package failed.
    type: bool
    default: false
  preinstenv:
    description: The update runs in a pre-installation environment; no notifications are sent.
    type: bool
    default: false
  update_only:
    description: Only update components that are already installed.
    type: bool
    default: false
  notify:
    description: Ask the applicator to notify its consumers.
    type: bool
    default: false
  clear_package:
    description: Delete the zipped bundle package once it has been extracted.
    type: bool
  install_params:
    description: Installation parameters for the whole bundle (zipped bundle packages only).
    type: str
  restart_params:
    description: Command line of the resume service that continues the update after a restart.
    type: str
  timeout:
    description:
      - Longest time in seconds that one package may run (key C(packagetimeout)); applicator
        versions without package time limits ignore it.
    type: int
  verify:
    description:
      - How the bundle's integrity is verified before it runs (key C(verify)); applicator
        versions without bundle verification ignore it.
    type: str
    choices: [digests, signed]
  allow_older:
    description:
      - With I(verify=signed), run a bundle definition that its signer signed before the newest
        definition of that signer this host has started an update with (key C(allowolder)), as a
        deliberate downgrade. Without it such a bundle is refused with status 3092.
      - The resume of the update after a restart allows it too.
    type: bool
    default: false
  log_target:
    description: File on the host that receives a copy of the status log.
    type: path
  user_info:
    description: User information recorded in the status log.
    type: str
    default: ansible
notes:
  - Status codes of the applicator that the module does not know make it fail.
  - Every failure returns C(status) and C(message) (null when the applicator gave no answer)
    and C(msg), which names the status and its message, or the reason.
extends_documentation_fragment:
  - plimo.bundle.service_host
  - action_common_attributes
attributes:
  check_mode:
    support: full
    details: Validates the bundle on the host and lists the packages that would run; writes nothing.
  diff_mode:
    support: full
    details: Lists the packages that ran, or would run, with their results.
  platform:
    platforms: posix
requirements:
  - The bundle applicator on the host (the service host C(zuasvchost) and the plug-in C(libplimo64.so));
    C(reboot=orchestrator) needs an applicator that knows the key C(callerreboot).
  - Python 3 on the host.
"""

EXAMPLES = r"""
- name: Apply the bundle, leaving any restart to the play
  plimo.bundle.bundle_update:
    path: /var/tmp/bundles/server-2024-06
    update_id: "rollout-{{ inventory_hostname }}"
  register: update

- name: Restart when a package asked for it
  ansible.builtin.reboot:
  when: update.reboot_required

- name: Apply the bundle; the play restarts the host and the applicator resumes after it
  plimo.bundle.bundle_update:
    path: /var/tmp/bundles/server-2024-06
    update_id: "rollout-{{ inventory_hostname }}"
    reboot: orchestrator
  register: update

- name: Restart for the resume
  ansible.builtin.reboot:
  when: update.resume_pending

- name: Wait for the final log of the update
  plimo.bundle.bundle_progress:
    update_id: "rollout-{{ inventory_hostname }}"
  register: progress
  until: progress.final
  retries: 60
  delay: 30
  when: update.resume_pending

- name: Apply a zipped bundle, verified against its digests, 15 minutes per package at most
  plimo.bundle.bundle_update:
    path: /var/tmp/bundles/server-2024-06.zip
    verify: digests
    timeout: 900
    continue_on_failure: true
"""

RETURN = r"""
status:
  description: Status code of the update (0 for success, 3072 to 3092 otherwise).
  returned: always
  type: int
  sample: 3073
message:
  description: Message of the status code.
  returned: always
  type: str
  sample: All update packages executed successfully.  System reboot required for updates to be applied.
exit_code:
  description: Exit code that the console front end C(Orvane -update) gives this status.
  returned: always
  type: int
  sample: 4
update_id:
  description: Update identifier recorded in the status log (with I(force_rerun), the new one).
  returned: always
  type: str
already_applied:
  description:
    - Whether the final log of I(update_id) records that the update was applied, so that
      nothing ran; the other values are those of the recorded result.
  returned: always
  type: bool
system_supported:
  description: Whether the bundle applies to this system; null when the bundle was not validated.
  returned: always
  type: bool
os_supported:
  description: Whether the bundle applies to this operating system; null when the bundle was not validated.
  returned: always
  type: bool
progress:
  description: Percentage of packages done while a run is under way; null when no run is.
  returned: always
  type: int
reboot_count:
  description: Number of restarts that the update has caused.
  returned: always
  type: int
packages:
  description: One entry per package that the update reached, in the order they ran.
  returned: always
  type: list
  elements: dict
  contains:
    release_id:
      description: Release identifier of the package.
      type: str
    path:
      description: Absolute path of the package file.
      type: str
    type:
      description: Package type as the bundle definition gives it.
      type: str
    state:
      description: One of C(complete), C(in-progress), C(missing), C(skipped).
      type: str
    status:
      description: Status number of the package result (2 success, 3 restart, 5 failed, ...).
      type: int
    exit_code:
      description: Result code of the package program.
      type: int
    os_error_code:
      description: Operating system error code recorded with the package log, if any.
      type: int
    log:
      description: Text of the package's own log.
      type: str
would_run:
  description: In check mode, the packages of the bundle definition that an update would start.
  returned: in check mode
  type: list
  elements: dict
reason:
  description: Why nothing was answered or run (a refused bundle path or option, the service host missing).
  returned: on failure without an answer
  type: str
diff:
  description: In diff mode, the packages that ran (or would run, or ran under the recorded update) with their results.
  returned: in diff mode
  type: dict
changed:
  description: Whether any package was started (in check mode, whether any would be).
  returned: always
  type: bool
failed:
  description:
    - Whether the update failed - a failure code, a package that failed, or a run that ended
      before its last package without a pending resume.
  returned: always
  type: bool
reboot_required:
  description: Whether the machine must be restarted (status 3073, 3074, 3078 or 3084).
  returned: always
  type: bool
resume_pending:
  description:
    - Whether the update goes on after a restart, one that the applicator started itself or,
      with C(reboot=orchestrator), one that it leaves to the play.
  returned: always
  type: bool
system_id:
  description:
    - System identifier of the host in hexadecimal, as a bundle's C(systemID) names it, read with
      C(plimo-sysid --json) beside the service host; C(0) when the firmware gives none.
    - Null when C(plimo-sysid) is not installed or cannot be run.
  returned: always
  type: str
  sample: 8C
"""

import os
import zipfile
import xml.etree.ElementTree as ElementTree

from ansible.module_utils.basic import AnsibleModule
from ansible.module_utils.parsing.convert_bool import boolean
from ansible_collections.plimo.bundle.plugins.module_utils.bundle_answer import (
    NO_UPDATE, UPDATE_EXIT_CODES, AnswerError, applied, bundle_kind, find_service_host, host_system_id, locate,
    module_result, package_line, refusal, run_command)

UPDATE_OPTIONS = [
    ("force", "force"), ("ignore", "ignore"),
    ("continueonfailure", "continue_on_failure"), ("preinstenv", "preinstenv"),
    ("updateonly", "update_only"), ("notify", "notify"),
]
ORCHESTRATOR = "orchestrator"


def reboot_mode(value):
    """True, False or "orchestrator" for the reboot option; ValueError otherwise."""
    if isinstance(value, str) and value.strip().lower() == ORCHESTRATOR:
        return ORCHESTRATOR
    try:
        return boolean(value, strict=True)
    except TypeError:
        raise ValueError("reboot must be true, false or orchestrator, not %r" % (value,))


def restart_keys(mode):
    """The restart keys of the update; an applicator that does not know callerreboot restarts nothing."""
    if mode == ORCHESTRATOR:
        return [("callerreboot", True)]
    return [("reboot", True)] if mode else []


def bundle_keys(params):
    """The keys that locate the bundle: a directory with its definition, or a zipped package."""
    path = params["path"]
    kind = bundle_kind(path)
    if kind == "directory":
        return [("bundlepath", path), ("bundle", params["definition"]), ("relocation", params["relocation"])]
    if kind == "definition":
        directory, name = os.path.split(path)
        return [("bundlepath", directory or "."), ("bundle", name), ("relocation", params["relocation"])]
    return [("bundlepackage", path), ("installparams", params["install_params"]),
            ("clearpackage", params["clear_package"])]


def update_keys(params, mode, update_id):
    """Every key of an update: the bundle, the options given, the identity of the update."""
    keys = bundle_keys(params) + [("zuausrinfo", params["user_info"]), ("updateid", update_id)]
    keys += restart_keys(mode)
    keys += [(key, True) for key, option in UPDATE_OPTIONS if params[option]]
    keys += [("restart-params", params["restart_params"]), ("packagetimeout", params["timeout"]),
             ("verify", params["verify"]), ("allowolder", params["allow_older"] or None),
             ("logtarget", params["log_target"])]
    return keys


def definition_packages(params):
    """The packages that the bundle definition lists, read without extracting anything."""
    keys = dict(bundle_keys(params))
    if "bundlepackage" in keys:
        with zipfile.ZipFile(keys["bundlepackage"]) as archive:
            text = archive.read("bundle.xml")
    else:
        with open(os.path.join(keys["bundlepath"], keys["bundle"]), "rb") as definition:
            text = definition.read()
    if b"<!DOCTYPE" in text:
        raise ValueError("the bundle definition declares a document type")
    root = ElementTree.fromstring(text)
    return [{"release_id": p.get("releaseID"), "path": p.get("path"), "type": p.get("packageType")}
            for p in root.iter("Package")]


def always_skipped(package):
    """tar.gz packages are never run by the applicator."""
    kind = (package["type"] or "").lower()
    return kind == "gz" or (package["path"] or "").lower().endswith(".tar.gz")


def recorded_update(module, service_host, update_id):
    """The final log of the update id, or None when it has none."""
    if not update_id:
        return None
    answer, final = locate(module, service_host, update_id)
    return answer if final else None


def free_update_id(module, service_host, update_id):
    """<update_id>-<n> with the first n from 2 that names no log."""
    number = 2
    while True:
        candidate = "%s-%d" % (update_id, number)
        answer = run_command(module, service_host, "progress", [("updateid", candidate)])
        if answer["status"] == NO_UPDATE or answer["update_id"] != candidate:
            return candidate
        number += 1


def diff_of(result, before=""):
    """The packages that ran, or would run, with their results."""
    if "would_run" in result:
        after = "".join(package_line(p, "would run") for p in result["would_run"])
    else:
        after = "".join(package_line(p) for p in result["packages"])
    return {"before_header": "update %s before" % (result.get("update_id") or ""), "before": before,
            "after_header": "update %s after" % (result.get("update_id") or ""), "after": after}


def apply_update(module, service_host, mode):
    """Runs the update unless its update id records it as applied; the module's result."""
    params = module.params
    update_id = params["update_id"]
    recorded = recorded_update(module, service_host, update_id)
    if recorded is not None and applied(recorded) and not params["force_rerun"]:
        result = module_result(recorded, UPDATE_EXIT_CODES)
        # The recorded update has ended: no resume is pending, whatever
        # restarts it counted.
        result.update(changed=False, already_applied=True, resume_pending=False)
        if module.check_mode:
            result["would_run"] = []
        before = "".join(package_line(p) for p in recorded["packages"])
        return result, before
    if module.check_mode:
        result = check_update(module, service_host)
        result.update(already_applied=False)
        return result, ""
    if recorded is not None and params["force_rerun"]:
        update_id = free_update_id(module, service_host, update_id)
    answer = run_command(module, service_host, "update", update_keys(params, mode, update_id))
    result = module_result(answer, UPDATE_EXIT_CODES)
    result.update(already_applied=False)
    return result, ""


def check_update(module, service_host):
    """Check mode: validate the bundle and list what an update would start."""
    keys = bundle_keys(module.params) + [("zuausrinfo", module.params["user_info"])]
    answer = run_command(module, service_host, "validate", keys)
    result = module_result(answer, UPDATE_EXIT_CODES)
    try:
        would_run = [p for p in definition_packages(module.params) if not always_skipped(p)]
    except (OSError, KeyError, ValueError, zipfile.BadZipFile, ElementTree.ParseError) as error:
        module.fail_json(**refusal("cannot read the bundle definition: %s" % error, **result))
    result.update(would_run=would_run, changed=not result["failed"] and bool(would_run))
    return result


def main():
    module = AnsibleModule(
        argument_spec=dict(
            path=dict(type="path", required=True),
            definition=dict(type="str", default="bundle.xml"),
            relocation=dict(type="path"),
            update_id=dict(type="str"),
            force_rerun=dict(type="bool", default=False),
            reboot=dict(type="raw", default=False),
            force=dict(type="bool", default=False),
            ignore=dict(type="bool", default=False),
            continue_on_failure=dict(type="bool", default=False),
            preinstenv=dict(type="bool", default=False),
            update_only=dict(type="bool", default=False),
            notify=dict(type="bool", default=False),
            clear_package=dict(type="bool"),
            install_params=dict(type="str"),
            restart_params=dict(type="str"),
            timeout=dict(type="int"),
            verify=dict(type="str", choices=["digests", "signed"]),
            allow_older=dict(type="bool", default=False),
            log_target=dict(type="path"),
            user_info=dict(type="str", default="ansible"),
            service_host=dict(type="path", aliases=["zuasvchost"]),
        ),
        supports_check_mode=True,
    )
    params = module.params
    try:
        mode = reboot_mode(params["reboot"])
        if params["force_rerun"] and not params["update_id"]:
            raise ValueError("force_rerun needs an update_id: only an update id can be run again")
        if params["timeout"] is not None and params["timeout"] <= 0:
            raise ValueError("timeout must be a positive number of seconds")
        if not os.path.exists(params["path"]):
            raise ValueError("the bundle path %s does not exist" % params["path"])
        bundle_kind(params["path"])
    except ValueError as error:
        module.fail_json(**refusal(str(error)))
    service_host = find_service_host(module.params["service_host"])
    system_id = host_system_id(module, service_host)
    try:
        result, before = apply_update(module, service_host, mode)
    except AnswerError as error:
        module.fail_json(**refusal("no answer from the applicator: %s" % error))
    if module._diff:
        result["diff"] = diff_of(result, before)
    result["system_id"] = system_id
    if result["failed"]:
        module.fail_json(**result)
    module.exit_json(**result)


if __name__ == "__main__":
    main()
