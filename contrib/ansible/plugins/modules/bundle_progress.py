#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: contributors to plimo
# GNU General Public License v3.0+ (see https://www.gnu.org/licenses/gpl-3.0.txt)

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: bundle_progress
short_description: Report the progress or the outcome of a bundle update on the host
version_added: "1.0.0"
description:
  - Asks the bundle applicator, through its service host C(zuasvchost), for the status log of
    the update under way on the host, or of a finished update by its identifier, and reports it
    in the same form as M(plimo.bundle.bundle_update).
  - An update that is still running or waits for its resume after a restart is reported with
    C(final=false); its interim status is not judged. Once its final log exists, C(final=true)
    and C(failed) tell its outcome.
  - Asking for the progress clears away the remains of an update whose process died in the
    middle of a run, as the applicator's own progress query does.
options:
  update_id:
    description:
      - Identifier of the update to report. Without it, the update under way is reported.
    type: str
extends_documentation_fragment:
  - plimo.bundle.service_host
  - action_common_attributes
attributes:
  check_mode:
    support: full
    details: The module only reads; it runs the same in check mode.
  diff_mode:
    support: none
  platform:
    platforms: posix
requirements:
  - The bundle applicator on the host (the service host C(zuasvchost) and the plug-in C(libplimo64.so)).
  - Python 3 on the host.
"""

EXAMPLES = r"""
- name: Wait until the update that restarted the machine has ended
  plimo.bundle.bundle_progress:
    update_id: "{{ rollout_update_id }}"
  register: progress
  until: progress.final
  retries: 60
  delay: 30

- name: Fail when it did not succeed
  ansible.builtin.fail:
    msg: "{{ progress.msg }}"
  when: progress.final and progress.failed
"""

RETURN = r"""
found:
  description: Whether the applicator knows the update (status 3080 means it does not).
  returned: always
  type: bool
final:
  description: Whether the update has ended and its final log was answered.
  returned: always
  type: bool
status:
  description: Status code of the log answered (the interim status while the update goes on).
  returned: always
  type: int
  sample: 0
message:
  description: Message of the status code.
  returned: always
  type: str
exit_code:
  description: Exit code that the console front end C(Orvane -progress) gives this status.
  returned: always
  type: int
update_id:
  description: Update identifier recorded in the log answered.
  returned: always
  type: str
progress:
  description: Percentage of packages done while a run is under way; null otherwise.
  returned: always
  type: int
reboot_count:
  description: Number of restarts that the update has caused.
  returned: always
  type: int
packages:
  description: One entry per package reached, as returned by M(plimo.bundle.bundle_update).
  returned: always
  type: list
  elements: dict
system_supported:
  description: Whether the bundle applies to this system, as the log records it; null before validation.
  returned: always
  type: bool
os_supported:
  description: Whether the bundle applies to this operating system; null before validation.
  returned: always
  type: bool
reason:
  description: Why the applicator gave no answer (the service host or plug-in missing, output that is no status log).
  returned: on failure without an answer
  type: str
changed:
  description: Always false.
  returned: always
  type: bool
failed:
  description: Whether a final log records a failure; an unknown status code fails at any time.
  returned: always
  type: bool
reboot_required:
  description: Whether a final log asks for a restart of the machine.
  returned: always
  type: bool
resume_pending:
  description: Whether the update is still under way or waits for its resume after a restart.
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

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.plimo.bundle.plugins.module_utils.bundle_answer import (
    KNOWN_CODES, NO_UPDATE, PROGRESS_EXIT_CODES, AnswerError, find_service_host, host_system_id, locate,
    module_result, refusal)


def progress_result(answer, final, update_id):
    """The module's result for one answer; only a final log is judged."""
    found = answer["status"] != NO_UPDATE and (final or not update_id or answer["update_id"] == update_id)
    result = module_result(answer, PROGRESS_EXIT_CODES)
    result.update(found=found, final=final, changed=False, resume_pending=found and not final)
    if not final:
        result.update(failed=False, reboot_required=False)
        result.pop("msg", None)
        if answer["status"] not in KNOWN_CODES:
            result.update(failed=True, msg="unknown status code %d" % answer["status"])
        elif not found:
            result["msg"] = "no update %sis known on this host" % ("%s " % update_id if update_id else "")
    return result


def main():
    module = AnsibleModule(
        argument_spec=dict(
            update_id=dict(type="str"),
            service_host=dict(type="path", aliases=["zuasvchost"]),
        ),
        supports_check_mode=True,
    )
    update_id = module.params["update_id"]
    try:
        answer, final = locate(module, find_service_host(module.params["service_host"]), update_id)
    except AnswerError as error:
        module.fail_json(**refusal("no answer from the applicator: %s" % error))
    result = progress_result(answer, final, update_id)
    result["system_id"] = host_system_id(module, find_service_host(module.params["service_host"]))
    if result["failed"]:
        module.fail_json(**result)
    module.exit_json(**result)


if __name__ == "__main__":
    main()
