#!/usr/bin/python
# -*- coding: utf-8 -*-
# Runs fwfleet on a site's host and hands back, per router, what happened.

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: upgrade
short_description: Upgrades the routers of one site with fwfleet
version_added: "1.1.1"
description:
  - Runs C(fwfleet) on the site's host (the host the task runs on) with a packed C(fwupgrade)
    program, which finds each router on the site's LAN, logs in and sends the images that fit
    its ROM identifier.
  - The router lines, passwords included, reach C(fwfleet) on its standard input and each run
    of the program gets its password on its own standard input, so no password stands in any
    process's arguments. Passwords are kept out of the module's output and the report.
  - Fails when any router failed or was upgraded but not confirmed; the other routers' results
    are still returned.
options:
  program:
    description: Path of the packed upgrade program on the site's host (it carries the images).
    type: path
    required: true
  routers:
    description: The routers to upgrade.
    type: list
    elements: dict
    required: true
    suboptions:
      address:
        description: The router's IPv4 address.
        type: str
        required: true
      password:
        description:
          - The router's password; empty for none.
          - No blanks and no C(#) (fwfleet's router lines cannot carry them), and not the
            word C(null).
        type: str
        default: ''
      romid:
        description: The router's ROM identifier, which chooses the images; empty for none.
        type: str
        default: ''
  jobs:
    description: At most this many routers are upgraded at a time.
    type: int
    default: 4
  verify:
    description:
      - Seconds to wait, after a router accepted the upgrade, for it to restart and answer
        again; C(0) does not wait.
      - A router that does not come back in time (or comes back with a version other than
        I(target_version)) is C(unverified), which fails the task.
    type: int
    default: 0
  target_version:
    description:
      - The firmware text (as the router list shows it, for example C(V2.41)) the routers
        should run. A router that already runs it is not touched (C(up-to-date)), which makes
        a second run of the same play change nothing.
    type: str
  fwfleet:
    description: Path of C(fwfleet) on the site's host; by default the one on C(PATH).
    type: path
  report:
    description: Path on the site's host where fwfleet's JSON report is kept (it holds no
      password). Written in check mode too.
    type: path
notes:
  - Check mode is supported. It runs fwfleet's dry run; each router is found and logged in to
    (a refused password still fails) but nothing is sent to it. The task is C(changed) when any
    router would be upgraded.
  - Routers are found by broadcast on the site's LAN, so run this on a host at each site.
author:
  - fwupgrade developers
'''

EXAMPLES = r'''
- name: Upgrade the routers of each site
  hosts: sites
  gather_facts: false
  tasks:
    - name: Bring every router to V2.41
      fwupgrade.fleet.upgrade:
        program: /opt/fwupgrade/fwupgrade-QR240
        target_version: V2.41
        verify: 120
        jobs: 4
        report: /var/log/fwupgrade/last-run.json
        routers: "{{ site_routers }}"
      register: upgrade

    - name: Show what each router became
      ansible.builtin.debug:
        msg: "{{ item.address }}: {{ item.state }} ({{ item.before }} -> {{ item.after }})"
      loop: "{{ upgrade.routers }}"

# site_routers in the inventory (passwords from a vault):
#   site_routers:
#     - {address: 192.168.123.10, password: "{{ vault_router_password }}", romid: QR240}
#     - {address: 192.168.123.11, password: "{{ vault_router_password }}", romid: QR240}
'''

RETURN = r'''
changed:
  description: Whether any router was upgraded (in check mode, whether any would be).
  returned: always
  type: bool
routers:
  description: One entry per router, in the order given.
  returned: always
  type: list
  elements: dict
  contains:
    address:
      description: The router's address.
      type: str
      sample: 192.168.123.10
    state:
      description: >-
        C(upgraded), C(verified) (upgraded and back with the new version), C(up-to-date)
        (already ran I(target_version); nothing sent), C(would-upgrade) (check mode),
        C(unverified) (upgraded but not confirmed) or C(failed).
      type: str
      sample: verified
    method:
      description: How the images were or would be sent (C(HTTP), C(FTP), C(TFTP)); empty when
        none.
      type: str
      sample: HTTP
    exit_status:
      description: The upgrade program's exit status for this router.
      type: int
      sample: 0
    before:
      description: The firmware text the router showed before the upgrade; null when unknown.
      type: str
      sample: V2.40
    after:
      description: The firmware text it showed when it came back; null when unknown.
      type: str
      sample: V2.41
    seconds:
      description: How long this router's run took.
      type: float
      sample: 41.2
    message:
      description: The last message box of the run (caption, a colon, its text), else its last
        log line.
      type: str
      sample: "Authentication Failed: Incorrect password. Please check and input again!"
report:
  description: The path of the kept report, when I(report) was given.
  returned: when report is given
  type: str
'''

import json
import os

from ansible.module_utils.basic import AnsibleModule

GOOD_STATES = ('upgraded', 'verified', 'up-to-date', 'would-upgrade')
# States in which the router was sent its images (or would be, in check mode).
CHANGED_STATES = ('upgraded', 'verified', 'unverified', 'would-upgrade')


def line_field(value):
    """fwfleet's form of a field: blank-separated, '#' starts a comment, null is empty."""
    if value == '':
        return 'null'
    if value == 'null' or '#' in value or any(c.isspace() or ord(c) < 0x20 or ord(c) == 0x7f
                                              for c in value):
        return None
    return value


def router_lines(routers):
    """The text for fwfleet's standard input, or (None, address) for a field it cannot carry."""
    lines = []
    for r in routers:
        fields = [line_field(r['address']), line_field(r['password']), line_field(r['romid'])]
        if None in fields or fields[0] == 'null':
            return None, r['address']
        lines.append(' '.join(fields))
    return '\n'.join(lines) + '\n', None


def message_of(entry):
    box = entry.get('lastBox')
    if isinstance(box, dict):
        return '%s: %s' % (box.get('caption', ''), box.get('text', ''))
    log = entry.get('log') or []
    return log[-1] if log else ''


def result_of(entry):
    return {
        'address': entry.get('address', ''),
        'state': entry.get('state', 'failed'),
        'method': entry.get('method', ''),
        'exit_status': entry.get('exitStatus'),
        'before': entry.get('before'),
        'after': entry.get('after'),
        'seconds': entry.get('seconds'),
        'message': message_of(entry),
    }


def main():
    module = AnsibleModule(
        argument_spec=dict(
            program=dict(type='path', required=True),
            routers=dict(type='list', elements='dict', required=True, options=dict(
                address=dict(type='str', required=True),
                password=dict(type='str', default='', no_log=True),
                romid=dict(type='str', default=''),
            )),
            jobs=dict(type='int', default=4),
            verify=dict(type='int', default=0),
            target_version=dict(type='str'),
            fwfleet=dict(type='path'),
            report=dict(type='path'),
        ),
        supports_check_mode=True,
    )
    p = module.params
    if not p['routers']:
        module.exit_json(changed=False, routers=[])
    if p['verify'] < 0:
        module.fail_json(msg='verify must be 0 or more seconds', routers=[])
    text, bad = router_lines(p['routers'])
    if text is None:
        module.fail_json(msg='router %s: fwfleet takes no field with a blank or "#", no field '
                             'that is the word null, and no empty address' % bad, routers=[])
    fwfleet = p['fwfleet'] or module.get_bin_path('fwfleet', required=True)
    report = p['report'] or os.path.join(module.tmpdir, 'fwfleet-report.json')

    cmd = [fwfleet, '--jobs', str(p['jobs']), '--report', report]
    if p['verify']:
        cmd += ['--verify', str(p['verify'])]
    if p['target_version']:
        cmd += ['--target', p['target_version']]
    if module.check_mode:
        cmd.append('--dry-run')
    if p['program'].startswith('-'):
        cmd.append('--')
    cmd += [p['program'], '-']
    rc, out, err = module.run_command(cmd, data=text, binary_data=True)

    try:
        with open(report) as f:
            entries = json.load(f).get('routers', [])
    except (OSError, ValueError, AttributeError):
        entries = None
    if not isinstance(entries, list):
        module.fail_json(msg='fwfleet ended with status %d and no report: %s'
                             % (rc, (err or out).strip()), rc=rc, routers=[])

    by_address = dict((e.get('address'), e) for e in entries if isinstance(e, dict))
    results = []
    for r in p['routers']:
        entry = by_address.get(r['address'])
        results.append(result_of(entry) if entry is not None else {
            'address': r['address'], 'state': 'failed', 'method': '', 'exit_status': None,
            'before': None, 'after': None, 'seconds': None, 'message': 'not in the report'})

    changed = any(r['state'] in CHANGED_STATES for r in results)
    extra = {'report': report} if p['report'] else {}
    bad = [r for r in results if r['state'] not in GOOD_STATES]
    if bad or rc != 0:
        named = ', '.join('%s %s (%s)' % (r['address'], r['state'], r['message']) for r in bad)
        module.fail_json(msg='routers not upgraded: ' + named if bad else
                         'fwfleet ended with status %d: %s' % (rc, err.strip()),
                         changed=changed, routers=results, rc=rc, **extra)
    module.exit_json(changed=changed, routers=results, **extra)


if __name__ == '__main__':
    main()
