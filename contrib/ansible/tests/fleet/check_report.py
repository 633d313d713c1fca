#!/usr/bin/python3
"""Checks one run over the test fleet: its JSON report and the ledger lines
that its packages wrote.

    check_report.py <play name> <fleet directory>

The fleet (run.sh): h1 a clean bundle, h2 a package that asks for one
restart, h3 a package that asks for two, h4 a failing package, h5 a
mistyped bundle path on the controller, h6 a host that cannot be reached;
in the run "budget", h1 and h2 have settings that are refused.
Prints the ledger lines of the run; exits 1 with the failed checks.
"""

import json
import os
import sys

HOSTS = ["h1", "h2", "h3", "h4", "h5", "h6"]
failures = []


def expect(condition, what):
    if not condition:
        failures.append(what)


def ledger_of(fleet, play):
    lines = []
    with open(os.path.join(fleet, "ledger")) as ledger:
        for line in ledger:
            fields = dict(field.split("=", 1) for field in line.split())
            if fields["play"] == play:
                lines.append(fields)
    return lines


def runs_of(entry):
    """(package, run it ended in) for each entry of a host's summary."""
    return [(p["release_id"], p["run"]) for p in entry["packages"]]


def starts(ledger, host):
    return [(line["boot"], line["package"], line["action"]) for line in ledger if line["host"] == host]


def check_unreached(hosts):
    """h5 (copy error on the controller) and h6 (unreachable): failed, no status, the reason named."""
    expect(hosts["h5"]["outcome"] == "failed" and hosts["h5"]["status"] is None, "h5 failed without a status")
    expect("restrat" in (hosts["h5"]["error"] or ""), "h5 names the bundle it could not copy: %r" % hosts["h5"])
    expect(hosts["h6"]["outcome"] == "failed" and hosts["h6"]["status"] is None, "h6 failed without a status")
    expect("cannot be reached" in (hosts["h6"]["error"] or ""), "h6 is unreachable: %r" % hosts["h6"])


def check_first(report, ledger):
    hosts = report["hosts"]
    expect(report["counts"] == {"updated": 3, "failed": 3}, "counts %r" % report["counts"])
    expect(report["budget"]["allowed"] == 3 and not report["budget"]["exceeded"], "budget %r" % report["budget"])
    for host, restarts in (("h1", 0), ("h2", 1), ("h3", 2)):
        entry = hosts[host]
        expect(entry["status"] == 0 and entry["changed"] and not entry["failed"], "%s updated: %r" % (host, entry))
        expect(entry["restarts"] == restarts and entry["runs"] == restarts + 1,
               "%s restarted %d times: %r" % (host, restarts, entry))
        expect(entry["message"], "%s has a message" % host)
    expect(runs_of(hosts["h1"]) == [("CLEAN-A", 1)], "h1 packages %r" % runs_of(hosts["h1"]))
    # The package that asked for the restart completes on its own entry
    # after it; the others ran once, before it.
    expect(runs_of(hosts["h2"]) == [("RESTART-A", 1), ("RESTART-B", 2), ("RESTART-C", 1)],
           "h2 packages %r" % runs_of(hosts["h2"]))
    # A package that runs again after each restart keeps one entry, which
    # names the run it ended in.
    expect(runs_of(hosts["h3"]) == [("TWICE-A", 1), ("TWICE-B", 3)],
           "h3 packages %r" % runs_of(hosts["h3"]))
    expect(hosts["h4"]["status"] == 3072 and hosts["h4"]["outcome"] == "failed", "h4 failed: %r" % hosts["h4"])
    check_unreached(hosts)
    # Every package was applied exactly once; the restarting ones were
    # continued or confirmed after their restarts.
    expect(starts(ledger, "h1") == [("0", "CLEAN-A", "applied")], "h1 ledger %r" % starts(ledger, "h1"))
    expect(starts(ledger, "h2") == [("0", "RESTART-A", "applied"), ("0", "RESTART-B", "applied"),
                                    ("0", "RESTART-C", "applied"), ("1", "RESTART-B", "confirmed")],
           "h2 ledger %r" % starts(ledger, "h2"))
    expect(starts(ledger, "h3") == [("0", "TWICE-A", "applied"), ("0", "TWICE-B", "applied"),
                                    ("1", "TWICE-B", "continued"), ("2", "TWICE-B", "confirmed")],
           "h3 ledger %r" % starts(ledger, "h3"))
    expect(starts(ledger, "h4") == [("0", "FAILING-A", "failed")], "h4 ledger %r" % starts(ledger, "h4"))
    expect(not starts(ledger, "h5") and not starts(ledger, "h6"), "nothing ran on h5 and h6")


def check_second(report, ledger):
    hosts = report["hosts"]
    for host in ("h1", "h2", "h3"):
        entry = hosts[host]
        expect(entry["outcome"] == "updated" and entry["status"] == 0, "%s still updated: %r" % (host, entry))
        expect(entry["already_applied"] and not entry["changed"] and entry["runs"] == 0,
               "%s already applied, nothing run: %r" % (host, entry))
    # A failed update id runs again.
    expect(starts(ledger, "h4") == [("0", "FAILING-A", "failed")], "h4 ran again: %r" % starts(ledger, "h4"))
    expect(all(line["host"] == "h4" for line in ledger), "only h4 ran packages: %r" % ledger)
    check_unreached(hosts)


def check_budget(report, ledger):
    """A budget of 0, and settings refused on h1 (by the role) and h2 (by its argument checks)."""
    hosts = report["hosts"]
    expect(report["budget"]["exceeded"] and report["budget"]["allowed"] == 0, "budget %r" % report["budget"])
    expect([hosts[h]["outcome"] for h in HOSTS] == ["failed"] * 2 + ["not attempted"] * 4,
           "outcomes %r" % [hosts[h]["outcome"] for h in HOSTS])
    expect("bundle_rollout_reboot must be orchestrator, true or false" in (hosts["h1"]["error"] or ""),
           "h1 names the refused setting: %r" % hosts["h1"])
    expect("bundle_rollout_max_restarts" in (hosts["h2"]["error"] or ""), "h2 names the refused setting: %r" % hosts["h2"])
    expect(hosts["h3"]["status"] is None and hosts["h3"]["message"], "h3 not attempted: %r" % hosts["h3"])
    expect(not ledger, "nothing ran: %r" % ledger)


def check_compliance(report, ledger):
    hosts = report["hosts"]
    expect([hosts[h]["outcome"] for h in HOSTS] == ["applied", "applied", "applied", "pending", "failed", "failed"],
           "outcomes %r" % [hosts[h]["outcome"] for h in HOSTS])
    expect(hosts["h4"]["applies"] and hosts["h4"]["system_supported"] and hosts["h4"]["os_supported"],
           "h4 applies: %r" % hosts["h4"])
    expect([p["release_id"] for p in hosts["h4"]["would_run"]] == ["FAILING-A", "FAILING-B"],
           "h4 would run %r" % hosts["h4"]["would_run"])
    expect(not hosts["h1"]["changed"] and hosts["h1"]["would_run"] == [], "h1 would run nothing: %r" % hosts["h1"])
    check_unreached(hosts)
    expect(not ledger, "nothing ran: %r" % ledger)


def check_check(report, ledger):
    hosts = report["hosts"]
    expect([hosts[h]["outcome"] for h in HOSTS] == ["pending"] * 4 + ["failed"] * 2,
           "outcomes %r" % [hosts[h]["outcome"] for h in HOSTS])
    expect([p["release_id"] for p in hosts["h2"]["would_run"]] == ["RESTART-A", "RESTART-B", "RESTART-C"],
           "h2 would run %r" % hosts["h2"]["would_run"])
    expect("does not exist" in (hosts["h5"]["message"] or ""), "h5 names the missing path: %r" % hosts["h5"])
    expect(not ledger, "nothing ran: %r" % ledger)


def main():
    play, fleet = sys.argv[1], sys.argv[2]
    with open(os.path.join(fleet, "report-%s.json" % play)) as report_file:
        report = json.load(report_file)
    ledger = ledger_of(fleet, play)
    expect(sorted(report["hosts"]) == HOSTS, "every host is in the report: %r" % sorted(report["hosts"]))
    {"first": check_first, "second": check_second, "budget": check_budget,
     "compliance": check_compliance, "check": check_check}[play](report, ledger)
    for host in HOSTS:
        print("report %s" % report["hosts"][host].get("outcome"), json.dumps(
            {k: report["hosts"][host].get(k) for k in ("host", "status", "changed", "restarts", "runs", "message")}))
    for line in ledger:
        print("ledger", " ".join("%s=%s" % item for item in sorted(line.items())))
    for failure in failures:
        print("FAILED:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
