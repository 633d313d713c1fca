#!/usr/bin/env bash
# Tests the Ansible collection against the built tree:
#
#   contrib/ansible/tests/run.sh [build-dir]     (default: build/ at the top of the repository)
#
# Builds and installs the collection into a temporary directory, checks the
# documentation of its modules and role with ansible-doc, runs the offline
# ansible-test sanity tests, and runs playbooks with Debian's ansible-core
# and /usr/bin/python3: the modules against localhost, then the rollout and
# compliance playbooks against a fleet of six hosts on this machine
# (connection: local, one unreachable), each with a state directory of its
# own. Every state file of the applicator goes into the temporary directory:
# the sandbox variables reach the modules as task environment, and the
# machine is never restarted (PLIMO_SKIP_REBOOT; the role's restart is a
# stand-in that runs the resume unit's command). Prints the ledger of every
# package start of the fleet, and ends with the line
# "ansible: N passed, N failed".
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
collection=$(cd "$here/.." && pwd)
top=$(cd "$collection/../.." && pwd)
build=$(cd "${1:-$top/build}" && pwd) || exit 2
service_host="$build/bin/zuasvchost"
if [[ ! -x "$service_host" || ! -e "$build/lib/zua/libplimo64.so" ]]; then
    echo "ansible tests: no built zuasvchost and plug-in under $build (build the project first)" >&2
    exit 2
fi
for tool in ansible-playbook ansible-doc ansible-galaxy ansible-test; do
    if [[ ! -x /usr/bin/$tool ]]; then
        echo "ansible tests: /usr/bin/$tool is missing (scripts/install-deps.sh installs ansible-core)" >&2
        exit 2
    fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/plimo-ansible-XXXXXX")
# PLIMO_ANSIBLE_KEEP=1 keeps the directory with the output of every check.
trap '[[ -n ${PLIMO_ANSIBLE_KEEP:-} ]] && echo "kept $work" || rm -rf "$work"' EXIT

# The sandbox that the modules get as task environment.
sandbox="$work/sandbox"
mkdir -p "$sandbox/win/TEMP" "$sandbox/tmp" "$sandbox/units" "$sandbox/trust" "$work/empty"
chmod 0700 "$sandbox/win/TEMP"
# What this script's own children see: the machine is never restarted, and an
# applicator started without the task environment finds no TEMP folder in
# windir and answers nothing instead of writing outside the sandbox.
export PLIMO_SKIP_REBOOT=1 PLIMO_SKIP_NOTIFICATION=1 PLIMO_SKIP_INHIBIT=1
export windir="$work/no-task-environment" XDG_STATE_HOME="$work/no-task-environment"
export HOME="$work/home" ANSIBLE_HOME="$work/home/.ansible"
export ANSIBLE_CONFIG="$work/ansible.cfg" ANSIBLE_COLLECTIONS_PATH="$work/collections"
export ANSIBLE_LOCAL_TEMP="$work/ansible-local" ANSIBLE_REMOTE_TEMP="$work/ansible-remote"
export ANSIBLE_ASYNC_DIR="$work/ansible-async" ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0
export ANSIBLE_PYTHON_INTERPRETER=/usr/bin/python3
mkdir -p "$HOME" && : >"$ANSIBLE_CONFIG"

printf '[servers]\nlocalhost ansible_connection=local ansible_python_interpreter=/usr/bin/python3\n' \
    >"$work/inventory.ini"
cat >"$work/vars.json" <<JSON
{
  "sandbox": "$sandbox",
  "service_host": "$service_host",
  "bundles": "$work/bundles",
  "empty_dir": "$work/empty",
  "rollout_hosts": "servers",
  "rollout_become": false,
  "bundle_rollout_service_host": "$service_host",
  "bundle_rollout_dest": "$sandbox/bundles",
  "bundle_rollout_environment": "{{ sandbox_env }}",
  "sandbox_env": {
    "windir": "$sandbox/win", "TEMP": "$sandbox/tmp", "TMP": "$sandbox/tmp", "TMPDIR": "$sandbox/tmp",
    "VSUPT_SERVICE_DIR": "$sandbox/units", "ZUA_CMDLOG": "$sandbox/cmdlog",
    "XDG_STATE_HOME": "$sandbox/state", "PLIMO_MEMFILE": "$sandbox/no-memory-image", "PLIMO_DMI_DIR": "$sandbox/no-dmi-tables",
    "PLIMO_SKIP_REBOOT": "1", "PLIMO_SKIP_NOTIFICATION": "1", "PLIMO_SKIP_INHIBIT": "1",
    "PLIMO_REBOOT_REQUIRED_FILE": "$sandbox/reboot-required", "PLIMO_TRUST_DIR": "$sandbox/trust",
    "PLIMO_METRICS_DIR": "$sandbox/metrics"
  }
}
JSON

# Test bundles: one package that succeeds; one that fails before one that
# would succeed; the example bundle, whose network driver asks for a restart
# on its first run.
package() { # <file> <exit code>: a package program that writes its /l= log
    # shellcheck disable=SC2016 # the program's own variables stay unexpanded
    printf '#!/bin/sh\nfor a; do case "$a" in /l=*) echo "exit %s" > "${a#/l=}";; esac; done\nexit %s\n' \
        "$2" "$2" >"$1"
    chmod +x "$1"
}
definition() { # <directory> <release id> <file>...: a bundle definition listing the files
    local dir=$1 id=$2 file
    shift 2
    {
        echo '<?xml version="1.0"?><SoftwareBundle><Contents>'
        for file; do echo "<Package releaseID=\"$id-$file\" path=\"$file\" packageType=\"LWXP\"/>"; done
        echo '</Contents></SoftwareBundle>'
    } >"$dir/bundle.xml"
}
mkdir -p "$work/bundles/clean" "$work/bundles/failing"
package "$work/bundles/clean/ok.sh" 0
definition "$work/bundles/clean" CLEAN ok.sh
package "$work/bundles/failing/bad.sh" 1
package "$work/bundles/failing/ok.sh" 0
definition "$work/bundles/failing" FAIL bad.sh ok.sh
cp -r "$top/examples/bundle" "$work/bundles/reboot"

# The fleet: six hosts on this machine, each with a state of its own
# (fleet/<host>), in batches of two. Their packages write one ledger line
# per start: the play run, the host, the boot of the host's "machine", the
# package and what it did (applied, continued, confirmed, failed). In the
# run with a budget of 0, h1 and h2 are given settings that the role refuses.
ledger_package() { # <file> <release id> <kind: ok, slow, bad, restart, twice>
    # shellcheck disable=SC2016 # the program's own variables stay unexpanded
    printf '#!/bin/sh
for a; do case "$a" in /l=*) log="${a#/l=}";; esac; done
boots=$(cat "$PLIMO_TEST_SANDBOX/boots" 2>/dev/null || echo 0)
mark="$PLIMO_TEST_SANDBOX/%s.stage"
stage=$(cat "$mark" 2>/dev/null || echo 0)
case %s in
ok) action=applied code=0;;
slow) i=0; while [ ! -e "$PLIMO_TEST_SANDBOX/go" ] && [ $i -lt 300 ]; do sleep 0.1; i=$((i + 1)); done
    action=applied code=0;;
bad) action=failed code=1;;
restart) if [ "$stage" = 0 ]; then action=applied code=2; else action=confirmed code=0; fi;;
twice) case "$stage" in 0) action=applied code=4;; 1) action=continued code=2;; *) action=confirmed code=0;; esac;;
esac
echo $((stage + 1)) > "$mark"
echo "play=$PLIMO_TEST_PLAY host=$PLIMO_TEST_HOST boot=$((boots)) package=%s action=$action exit=$code" \
    >> "$PLIMO_TEST_LEDGER"
echo "%s $action" > "$log"
exit $code
' "$2" "$3" "$2" "$2" >"$1"
    chmod +x "$1"
}
fleet_bundle() { # <name> <release id>:<kind>...
    local dir="$work/bundles/$1" entry
    shift
    mkdir -p "$dir"
    {
        echo '<?xml version="1.0"?><SoftwareBundle><Contents>'
        for entry; do
            ledger_package "$dir/${entry%%:*}.sh" "${entry%%:*}" "${entry#*:}"
            echo "<Package releaseID=\"${entry%%:*}\" path=\"${entry%%:*}.sh\" packageType=\"LWXP\"/>"
        done
        echo '</Contents></SoftwareBundle>'
    } >"$dir/bundle.xml"
}
fleet_bundle fleet-clean CLEAN-A:slow
fleet_bundle fleet-restart RESTART-A:ok RESTART-B:restart RESTART-C:ok
fleet_bundle fleet-twice TWICE-A:ok TWICE-B:twice
fleet_bundle fleet-failing FAILING-A:bad FAILING-B:ok
fleet="$work/fleet"
for host in h1 h2 h3 h4 h5 h6; do
    mkdir -p "$fleet/$host/win/TEMP" "$fleet/$host/tmp" "$fleet/$host/units" "$fleet/$host/trust"
    chmod 0700 "$fleet/$host/win/TEMP"
done
: >"$fleet/ledger"
cat >"$work/fleet.ini" <<INI
[servers]
h1 fleet_bundle=fleet-clean bundle_rollout_reboot="{{ 'sometimes' if fleet_play == 'budget' else 'orchestrator' }}"
h2 fleet_bundle=fleet-restart bundle_rollout_max_restarts="{{ 'many' if fleet_play == 'budget' else 3 }}"
h3 fleet_bundle=fleet-twice
h4 fleet_bundle=fleet-failing
h5 fleet_bundle=fleet-restrat
h6 fleet_bundle=fleet-restart ansible_connection=ssh ansible_host=127.0.0.1 ansible_port=1 ansible_user=nobody

[servers:vars]
ansible_connection=local
ansible_python_interpreter=/usr/bin/python3
INI
cat >"$work/fleet.json" <<JSON
{
  "host_sandbox": "$fleet/{{ inventory_hostname }}",
  "fleet_dir": "$here/fleet",
  "rollout_hosts": "servers",
  "rollout_become": false,
  "rollout_serial": 2,
  "rollout_bundle": "$work/bundles/{{ fleet_bundle }}",
  "bundle_rollout_update_id": "fleet-{{ inventory_hostname }}",
  "bundle_rollout_service_host": "$service_host",
  "bundle_rollout_dest": "{{ host_sandbox }}/bundles",
  "bundle_rollout_reboot_tasks": "$here/fleet/restart.yml",
  "bundle_rollout_poll_delay": 1,
  "bundle_rollout_poll_retries": 2,
  "bundle_rollout_max_seconds": 40,
  "bundle_rollout_environment": {
    "windir": "{{ host_sandbox }}/win", "TEMP": "{{ host_sandbox }}/tmp", "TMP": "{{ host_sandbox }}/tmp",
    "TMPDIR": "{{ host_sandbox }}/tmp", "VSUPT_SERVICE_DIR": "{{ host_sandbox }}/units",
    "ZUA_CMDLOG": "{{ host_sandbox }}/cmdlog", "XDG_STATE_HOME": "{{ host_sandbox }}/state",
    "PLIMO_MEMFILE": "{{ host_sandbox }}/no-memory-image", "PLIMO_TRUST_DIR": "{{ host_sandbox }}/trust",
    "PLIMO_DMI_DIR": "{{ host_sandbox }}/no-dmi-tables", "PLIMO_METRICS_DIR": "{{ host_sandbox }}/metrics",
    "PLIMO_SKIP_REBOOT": "1", "PLIMO_SKIP_NOTIFICATION": "1", "PLIMO_SKIP_INHIBIT": "1",
    "PLIMO_REBOOT_REQUIRED_FILE": "{{ host_sandbox }}/reboot-required",
    "PLIMO_TEST_SANDBOX": "{{ host_sandbox }}", "PLIMO_TEST_HOST": "{{ inventory_hostname }}",
    "PLIMO_TEST_LEDGER": "$fleet/ledger", "PLIMO_TEST_PLAY": "{{ fleet_play }}"
  }
}
JSON

passed=0
failed=0
check() { # <name> <command...>: runs one check, its output in $work/<name>.log
    local name=$1 start=$SECONDS
    shift
    # PLIMO_ANSIBLE_ONLY=<regex> runs only the checks whose names match (install always runs).
    if [[ -n ${PLIMO_ANSIBLE_ONLY:-} && $name != install && ! $name =~ $PLIMO_ANSIBLE_ONLY ]]; then
        return 0
    fi
    if "$@" >"$work/$name.log" 2>&1; then
        passed=$((passed + 1))
        echo "ok    $name ($((SECONDS - start)) s)"
    else
        failed=$((failed + 1))
        echo "FAIL  $name ($((SECONDS - start)) s)"
        tail -n 60 "$work/$name.log"
    fi
}
playbook() { /usr/bin/ansible-playbook -i "$work/inventory.ini" -e "@$work/vars.json" "$@"; }
# Sanity tests that need a virtual environment filled from the network cannot run offline.
offline_sanity() {
    (cd "$work/collections/ansible_collections/plimo/bundle" &&
        /usr/bin/ansible-test sanity --python-interpreter /usr/bin/python3 --color no \
            --skip-test ansible-doc --skip-test import --skip-test pep8 --skip-test pylint \
            --skip-test runtime-metadata --skip-test validate-modules --skip-test yamllint)
}

install_collection() {
    /usr/bin/ansible-galaxy collection build "$collection" --output-path "$work" &&
        /usr/bin/ansible-galaxy collection install "$work"/plimo-bundle-*.tar.gz -p "$work/collections" &&
        # The tests stay out of the built collection.
        ! tar -tzf "$work"/plimo-bundle-*.tar.gz | grep -q '^tests/'
}
fleet_play() { # <play name> <expected exit code> <ansible-playbook arguments...>: one run over the fleet
    local name=$1 expected=$2 rc=0
    shift 2
    : >"$fleet/output-$name"
    if [[ $name == first ]]; then
        # The slow package of h1 runs until a line of the play has shown it
        # in progress (30 s at most).
        # shellcheck disable=SC2016 # expanded by the inner shell
        (timeout 30 bash -c 'until grep -q "CLEAN-A in progress" "$1"; do sleep 0.2; done' _ "$fleet/output-$name"
            touch "$fleet/h1/go") &
    fi
    /usr/bin/ansible-playbook -i "$work/fleet.ini" -e "@$work/fleet.json" -e fleet_play="$name" \
        -e rollout_report="$fleet/report-$name.json" "$@" | tee "$fleet/output-$name" || rc=${PIPESTATUS[0]}
    wait
    if ((rc != expected)); then
        echo "ansible-playbook ended with $rc, not $expected"
        return 1
    fi
    if [[ $name == first ]] && ! grep -q '"h1: 0% done, CLEAN-A in progress' "$fleet/output-$name"; then
        echo "no progress line shows the package in progress"
        return 1
    fi
    /usr/bin/python3 "$here/fleet/check_report.py" "$name" "$fleet"
}
fleet_check_mode() { # the bundles are looked at where they lie: nothing is written on any host
    fleet_play check 2 plimo.bundle.rollout --check -e rollout_bundle= \
        -e 'bundle_rollout_path={{ "'"$work"'/bundles/" ~ fleet_bundle }}' &&
        [[ -z $(find "$fleet"/h?/win/TEMP "$fleet"/h?/tmp "$fleet"/h?/units -mindepth 1 -print -quit) ]]
}

check install install_collection
for plugin in bundle_update bundle_progress; do
    check "doc-$plugin" /usr/bin/ansible-doc "plimo.bundle.$plugin"
done
check doc-role /usr/bin/ansible-doc -t role plimo.bundle.bundle_rollout
check sanity offline_sanity
check modules playbook "$here/playbooks/modules.yml"
check fleet-check fleet_check_mode
check fleet-first fleet_play first 2 plimo.bundle.rollout -e rollout_max_failed=50%
check fleet-second fleet_play second 2 plimo.bundle.rollout -e rollout_max_failed=50%
check fleet-compliance fleet_play compliance 2 plimo.bundle.compliance
check fleet-budget fleet_play budget 2 plimo.bundle.rollout -e rollout_max_failed=0
echo "ledger of the fleet (play, host, boot of the host, package, what it did):"
sed 's/^/    /' "$fleet/ledger"

echo "ansible: $passed passed, $failed failed"
((failed == 0))
