# -*- coding: utf-8 -*-
# Copyright: contributors to plimo
# GNU General Public License v3.0+ (see https://www.gnu.org/licenses/gpl-3.0.txt)
"""The controller's side of a roll-out: following one host's update, the
failure budget over the whole roll-out, and the report.

The role bundle_rollout keeps one state per host and advances it with
rollout_step after every look at the host (the background job of the
update, and the applicator's progress). These are plain functions over the
registered results, so that the decisions live in one place.
"""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import math
import re

# What a package entry is compared by when a later look shows it again.
PACKAGE_KEYS = ("release_id", "path", "state", "status", "exit_code", "os_error_code", "log")

OUTCOMES = ("updated", "failed", "not attempted", "applied", "pending", "not applicable")


def _answered(result):
    """Whether a registered result is an answer of a module that ran."""
    return isinstance(result, dict) and not result.get("skipped") and not result.get("unreachable")


def _refused(result):
    """Whether a module answer is a failure of the module itself.

    A progress query that was asked again until its retries ran out is
    marked failed by Ansible without a message; that is no failure here.
    """
    return bool(result.get("failed")) and bool(result.get("msg") or result.get("reason"))


def package_runs(seen, packages, run):
    """The package entries, each with the run it ended in.

    An entry that a look shows unchanged keeps the run of the look before;
    a new or changed entry ended in this run.
    """
    marked = []
    for index, package in enumerate(packages or []):
        entry = dict(package)
        before = seen[index] if index < len(seen or []) else None
        same = before is not None and all(before.get(key) == package.get(key) for key in PACKAGE_KEYS)
        entry["run"] = before["run"] if same else run
        marked.append(entry)
    return marked


def rollout_start(mode, update_id, max_polls, rerun=False):
    """The state of a host before its update starts.

    look_id is the update id that the progress is asked for: none while the
    background job runs (its progress is that of the update under way), as
    a run again under a new id is known only from the job's answer; the
    applicator restarting the host itself may end the job without an
    answer, so then the final log of the id is looked for from the start.
    """
    rerun = bool(rerun)
    return {"mode": mode, "update_id": update_id, "rerun": rerun, "phase": "job", "done": False,
            "restart_due": False, "restarts": 0, "polls": 0, "max_polls": max(int(max_polls), 1),
            "result": {}, "packages": [], "verdict": None,
            "look_id": update_id if mode == "applicator" and not rerun else None}


def _finish(state, result=None, verdict=None):
    state["done"] = True
    state["restart_due"] = False
    if result is not None:
        state["result"] = result
    if verdict is not None:
        state["verdict"] = verdict
    return state


def _observe(state, answer):
    state["result"] = answer
    if answer.get("update_id"):
        state["update_id"] = answer["update_id"]
    state["packages"] = package_runs(state["packages"], answer.get("packages"), state["restarts"] + 1)


def _restart_or_stop(state, answer, max_restarts):
    """The update asks the play for another restart."""
    _observe(state, answer)
    if state["restarts"] >= int(max_restarts):
        return _finish(state, verdict="the update still asks for a restart after %d restarts" % state["restarts"])
    state["restart_due"] = True
    return state


def rollout_step(state, job, progress, max_restarts=3):
    """Advances a host's state by one look: the job's status and the progress.

    mode "orchestrator": the play restarts the host whenever the update's
    reboot count passes the restarts it made, and waits for the final log.
    mode "applicator": the applicator restarts the host; the final log, or
    the job's answer when it needs no restart, ends the wait. mode "none":
    the job's answer is the result.
    """
    state = dict(state)
    state["polls"] += 1
    mode = state["mode"]
    job_done = _answered(job) and int(job.get("finished", 0) or 0) == 1
    looked = _answered(progress) and not _refused(progress)
    final = looked and progress.get("final")

    if state["phase"] == "job":
        if job_done:
            if (job.get("failed") or job.get("already_applied") or not job.get("resume_pending")
                    or mode == "none"):
                _observe(state, job)
                return _finish(state)
            if mode == "orchestrator":
                if int(job.get("reboot_count") or 0) > state["restarts"]:
                    state["phase"] = "resume"
                    state["look_id"] = job.get("update_id") or state["update_id"]
                    return _restart_or_stop(state, job, max_restarts)
            _observe(state, job)
            state["phase"] = "resume"
            state["look_id"] = state["update_id"]
        elif state["look_id"] and final and int(progress.get("reboot_count") or 0) > 0:
            # The host restarted under the job, which then never answers;
            # the final log of an update that restarted tells the end.
            _observe(state, progress)
            return _finish(state)
    elif final:
        _observe(state, progress)
        return _finish(state)
    elif looked and progress.get("found"):
        if mode == "orchestrator" and int(progress.get("reboot_count") or 0) > state["restarts"]:
            return _restart_or_stop(state, progress, max_restarts)
    elif looked:
        return _finish(state, verdict="the update %s is no longer known on the host" % state["update_id"])

    if state["polls"] >= state["max_polls"]:
        return _finish(state, verdict="no final status after %d looks at the progress" % state["polls"])
    return state


def rollout_look_ended(progress, state):
    """Whether a look at the progress has seen enough for the state to move on.

    The progress is asked again and again (until) while the update runs
    undisturbed; a look ends when the update may have ended or owes a
    restart, or when the progress cannot be had.
    """
    if not _answered(progress) or _refused(progress):
        return True
    found, final = progress.get("found"), progress.get("final")
    restart_owed = int(progress.get("reboot_count") or 0) > state["restarts"]
    if not found:
        return True
    if state["phase"] == "job" and state["look_id"]:
        # A final log before the job's answer counts only when it tells of
        # a restart: then the job may never answer.
        return bool(final) and int(progress.get("reboot_count") or 0) > 0
    if state["mode"] == "orchestrator" and restart_owed:
        return True
    return bool(final)


def rollout_restarted(state):
    """The state after the play restarted the host."""
    state = dict(state)
    state["restarts"] += 1
    state["restart_due"] = False
    return state


def rollout_progress_line(progress, host):
    """One line telling where a host's update stands."""
    if not _answered(progress) or _refused(progress):
        return "%s: no progress answer (%s)" % (host, (progress or {}).get("msg") or "host not reachable")
    if not progress.get("found"):
        return "%s: no update under way" % host
    running = [p["release_id"] or p["path"] for p in progress.get("packages", []) if p.get("state") == "in-progress"]
    done = progress.get("progress")
    where = "%s in progress" % running[-1] if running else "between packages"
    if progress.get("final"):
        return "%s: ended with status %s" % (host, progress.get("status"))
    return "%s: %s%% done, %s, %d restarts so far" % (host, 0 if done is None else done, where,
                                                      int(progress.get("reboot_count") or 0))


def rollout_summary(state, host, mode, error=None, absent=False, bundle=None):
    """The summary of one host's update (the fact bundle_rollout_summary).

    mode is the restart mode (orchestrator, applicator, none) or "check"
    (check mode and the compliance view); error is what failed before or
    around the update on the controller or the host (a refused setting, a
    copy error, an unreachable host), absent that the bundle would be copied
    in check mode and so could not be looked at.
    """
    state = state if isinstance(state, dict) else {}
    result = state.get("result") if isinstance(state.get("result"), dict) else {}
    status = result.get("status")
    answered = status is not None
    checked = mode == "check"
    applied = bool(result.get("already_applied"))
    restarts = int(result.get("reboot_count") or 0) if mode == "applicator" else int(state.get("restarts") or 0)
    ran = answered and not applied and not checked
    packages = [dict((k, v) for k, v in p.items() if k != "log") for p in state.get("packages") or []]
    applies = applied or (status == 0 and result.get("system_supported") is not False
                          and result.get("os_supported") is not False)
    not_applicable = checked and status == 3076
    verdict = state.get("verdict")
    failed = (error is not None or verdict is not None or (not absent and not state.get("done"))
              or (bool(result.get("failed")) and not not_applicable))
    if error is not None:
        message = error
    elif absent:
        message = "the bundle would be copied to the host; it is validated once it is there"
    elif verdict is not None:
        message = verdict
    elif not state.get("done"):
        message = "the update did not end"
    else:
        message = result.get("msg") or result.get("message") or ("Success" if status == 0 else "")
    if checked:
        changed = bool(result.get("changed"))
    else:
        changed = ran and any(p.get("state") in ("complete", "in-progress") for p in packages)
    return {
        "host": host, "update_id": state.get("update_id"), "bundle": bundle, "mode": mode,
        "status": status, "message": message, "error": error, "changed": changed, "failed": failed,
        "already_applied": applied, "applies": applies,
        "system_supported": result.get("system_supported"), "os_supported": result.get("os_supported"),
        "system_id": result.get("system_id"),
        "reboot_required": bool(result.get("reboot_required")), "resume_pending": bool(result.get("resume_pending")),
        "restarts": restarts, "runs": restarts + 1 if ran else 0, "polls": int(state.get("polls") or 0),
        "packages": packages, "would_run": result.get("would_run"),
    }


def rollout_budget(max_failed, failed, hosts):
    """The failure budget over the whole roll-out.

    max_failed is a count ("2", 2) or a percentage of the play's hosts
    ("10%"); empty means no budget. The budget is exceeded when more hosts
    failed than it allows.
    """
    text = "" if max_failed is None else str(max_failed).strip()
    budget = {"max_failed": text or None, "allowed": None, "failed": int(failed), "hosts": int(hosts),
              "exceeded": False, "error": None}
    if not text:
        return budget
    match = re.match(r"^(\d+)(%?)$", text)
    if not match or (match.group(2) and int(match.group(1)) > 100):
        budget["error"] = ("bundle_rollout_max_failed must be a count of hosts or a percentage up to 100%%, "
                           "not %r" % text)
        return budget
    number = int(match.group(1))
    allowed = math.floor(number * int(hosts) / 100.0) if match.group(2) else number
    budget.update(allowed=allowed, exceeded=int(failed) > allowed)
    return budget


def rollout_outcome(summary, mode):
    """The report's word for one host."""
    if summary is None:
        return "not attempted"
    if mode in ("compliance", "check"):
        if summary.get("failed"):
            return "failed"
        if summary.get("already_applied"):
            return "applied"
        return "pending" if summary.get("applies") else "not applicable"
    return "failed" if summary.get("failed") else "updated"


def rollout_report(summaries, hosts, budget=None, mode="rollout"):
    """The report over every host of the roll-out, summaries by host name."""
    entries = {}
    counts = dict((outcome, 0) for outcome in OUTCOMES)
    for host in hosts:
        summary = (summaries or {}).get(host)
        if not isinstance(summary, dict):
            summary = None
        outcome = rollout_outcome(summary, mode)
        counts[outcome] = counts.get(outcome, 0) + 1
        entry = dict(summary or {"host": host, "status": None, "changed": False, "failed": False,
                                 "packages": [], "error": None,
                                 "message": "the roll-out ended before this host"})
        entry["outcome"] = outcome
        entries[host] = entry
    return {"mode": mode, "hosts": entries, "counts": dict((k, v) for k, v in counts.items() if v),
            "budget": budget}


def rollout_report_line(entry):
    """One line of the report for a host."""
    outcome = entry.get("outcome")
    status = "no answer" if entry.get("status") is None else "status %s" % entry["status"]
    line = "%s: %s, %s" % (entry.get("host"), outcome, status)
    if outcome in ("updated", "failed") and entry.get("status") is not None:
        line += ", changed %s, restarts %s" % (entry.get("changed"), entry.get("restarts", 0))
        if entry.get("already_applied"):
            line += ", already applied"
    if entry.get("reboot_required"):
        line += ", reboot required"
    if outcome == "pending" and entry.get("would_run") is not None:
        message = "would run %s" % (", ".join(p.get("release_id") or p.get("path") or "?"
                                              for p in entry["would_run"]) or "nothing")
    else:
        message = entry.get("error") or entry.get("message")
    return line + (" - %s" % message if message else "")


class FilterModule(object):
    """Filters of the roll-out role."""

    def filters(self):
        return {
            "package_runs": package_runs,
            "rollout_start": rollout_start,
            "rollout_step": rollout_step,
            "rollout_restarted": rollout_restarted,
            "rollout_look_ended": rollout_look_ended,
            "rollout_progress_line": rollout_progress_line,
            "rollout_summary": rollout_summary,
            "rollout_budget": rollout_budget,
            "rollout_report": rollout_report,
            "rollout_report_line": rollout_report_line,
        }
