#!/usr/bin/env bash
# Tests the Ansible collection against the built tree:
#
#   contrib/ansible/tests/run.sh [build-dir]     (default: build/ at the top of the repository)
#
# Builds and installs the collection into a temporary directory, checks the
# documentation of its modules and role with ansible-doc, runs the offline
# ansible-test sanity tests, and runs playbooks against localhost
# (connection: local) with Debian's ansible-core and /usr/bin/python3. Every
# state file of the applicator goes into the temporary directory: the
# sandbox variables reach the modules as task environment, and the machine
# is never restarted (PLIMO_SKIP_REBOOT; the role's restart is a no-op).
# Ends with the line "ansible: N passed, N failed".
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

passed=0
failed=0
check() { # <name> <command...>: runs one check, its output in $work/<name>.log
    local name=$1 start=$SECONDS
    shift
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
no_state_left() { # nothing written in the sandbox's TEMP folders
    [[ -z $(find "$sandbox/win/TEMP" "$sandbox/tmp" -mindepth 1 -print -quit) ]]
}
# Sanity tests that need a virtual environment filled from the network cannot run offline.
offline_sanity() {
    (cd "$work/collections/ansible_collections/plimo/bundle" &&
        /usr/bin/ansible-test sanity --python-interpreter /usr/bin/python3 --color no \
            --skip-test ansible-doc --skip-test import --skip-test pep8 --skip-test pylint \
            --skip-test runtime-metadata --skip-test validate-modules --skip-test yamllint)
}

install_collection() {
    /usr/bin/ansible-galaxy collection build "$collection" --output-path "$work" &&
        /usr/bin/ansible-galaxy collection install "$work"/plimo-bundle-*.tar.gz -p "$work/collections"
}
check_mode_changes_nothing() {
    playbook --check "$here/playbooks/rollout.yml" -e bundle_rollout_path="$work/bundles/reboot" \
        -e expect_check=true && no_state_left
}

check install install_collection
for plugin in bundle_update bundle_progress; do
    check "doc-$plugin" /usr/bin/ansible-doc "plimo.bundle.$plugin"
done
check doc-role /usr/bin/ansible-doc -t role plimo.bundle.bundle_rollout
check sanity offline_sanity
check check-mode check_mode_changes_nothing
check modules playbook "$here/playbooks/modules.yml"
check rollout-clean playbook "$here/playbooks/rollout.yml" -e rollout_bundle="$work/bundles/clean" \
    -e expect_status=0
rm -f "$sandbox/tmp/EX-NIC-210.installed"
check rollout-reboot playbook "$here/playbooks/rollout.yml" -e rollout_bundle="$work/bundles/reboot" \
    -e bundle_rollout_reboot_tasks="$here/playbooks/noop-reboot.yml" -e expect_restarts=1

echo "ansible: $passed passed, $failed failed"
((failed == 0))
