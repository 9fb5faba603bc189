# -*- coding: utf-8 -*-
# Copyright: Orv OS update developers
# MIT License (see the LICENSE of orv-os-update)

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: flash
short_description: Update the OS of the PLCs a plan lists, with orv-flash
description:
  - Runs C(orv-flash --plan PLAN --json) on the managed host, where the PLCs hang on serial
    lines, and reports what became of each PLC of the plan.
  - The plan is orv-flash's CSV file (columns C(port), C(station), C(image), and optionally
    C(baud), C(parity), C(databits), C(speed), C(stop_plc), C(skip_current)); see
    C(man orv-flash). Its PLCs are checked whole before any is touched; the ports run side by
    side, the PLCs of one port one after another.
  - With C(skip_current) (the default) a PLC that already reports the image's OS (version,
    release date and flash type) is left alone, so running the task again changes nothing.
  - In check mode orv-flash runs with C(--dry-run) instead; it reads each PLC's status and says
    whether it would be updated, and sends nothing else.
  - The task fails when a PLC fails (or, in check mode, cannot be reached), with each failed
    PLC's message.
version_added: 1.61.0
author:
  - Orv OS update developers (@orv)
requirements:
  - orv-flash (the orv-os-update package) on the managed host
options:
  plan:
    description:
      - Path of the plan file on the managed host. Relative image paths in it count from its
        folder.
    type: path
    required: true
  stop_plc:
    description:
      - Whether a PLC that runs its program is stopped for the update (C(--stop-plc yes)) or
        left running and reported failed (C(--stop-plc no)).
      - Unset, the plan's C(stop_plc) column decides, and C(no) where it is empty.
      - A line's own C(stop_plc) value wins over this option.
    type: bool
  skip_current:
    description:
      - Leave a PLC alone that already reports the image's OS (C(--skip-current)); its result
        is C(current).
      - A line's own C(skip_current) value wins over this option.
    type: bool
    default: true
  executable:
    description:
      - Path of orv-flash on the managed host; by default the one found on the search path.
    type: path
  timeout:
    description:
      - Seconds the whole plan may take. Then orv-flash is interrupted as by Ctrl+C (every run
        in progress is aborted, a PLC left in download mode is reported so) and the task fails.
    type: int
    default: 3600
attributes:
  check_mode:
    support: full
    description: Runs C(orv-flash --dry-run), which only reads each PLC's status.
  diff_mode:
    support: none
notes:
  - The user the task runs as must be allowed to open the serial ports (usually the group
    C(dialout)).
  - Each update is recorded in that user's update history (C(orv-flash --history)).
  - Whether a PLC runs its program is not part of its status; a dry run says what would happen
    if it does.
seealso:
  - module: orv.plc.status
'''

EXAMPLES = r'''
- name: Update every PLC of the cabinet, stopping those that run
  orv.plc.flash:
    plan: /srv/orv/cabinet.csv
    stop_plc: true
  register: flashed

- name: What would an update do (reads the status only)
  orv.plc.flash:
    plan: /srv/orv/cabinet.csv
  check_mode: true
  register: preview

- name: Flash every PLC again, even those already current, within ten minutes
  orv.plc.flash:
    plan: /srv/orv/cabinet.csv
    skip_current: false
    timeout: 600
'''

RETURN = r'''
changed:
  description: True when a PLC was updated (in check mode, when one would be).
  type: bool
  returned: always
rc:
  description: The exit code of orv-flash (0 when every PLC was updated and verified or current).
  type: int
  returned: always
summary:
  description: The counts of the plan's summary event.
  type: dict
  returned: when orv-flash ran the plan
  contains:
    updated:
      description: PLCs updated and verified.
      type: int
    current:
      description: PLCs left alone because they already report the image's OS.
      type: int
    failed:
      description: PLCs whose run failed (in check mode, that could not be reached).
      type: int
    not_run:
      description: PLCs never started (interrupted, or after a PLC that may be in download mode).
      type: int
    interrupted:
      description: Whether the plan was interrupted (by the timeout).
      type: bool
    exit:
      description: The plan's exit code.
      type: int
  sample: {"updated": 2, "current": 1, "failed": 0, "not_run": 0, "interrupted": false, "exit": 0}
plcs:
  description: One entry per PLC, in the plan's order.
  type: list
  elements: dict
  returned: when orv-flash ran the plan
  contains:
    plan_line:
      description: The PLC's line in the plan file.
      type: int
    port:
      description: The port as the plan names it.
      type: str
    station:
      description: The station number.
      type: int
    image:
      description: The image file.
      type: str
    result:
      description:
        - C(ok), C(current), C(failed), C(port-error), C(verify-failed), C(interrupted) or
          C(not-run); in check mode C(update), C(current) or C(unreachable).
      type: str
    message:
      description: Why the PLC failed or was not run; in check mode what the update would do.
      type: str
    download_mode:
      description: The PLC may be left in download mode.
      type: bool
    os_before:
      description: The OS the PLC reported first (version, date, flash), or null.
      type: dict
    os_after:
      description: The OS it reported after the update, or null.
      type: dict
    os_image:
      description: The OS the image holds.
      type: dict
    seconds:
      description: How long the PLC's run took.
      type: float
  sample:
    - {"plan_line": 2, "port": "ttyUSB0", "station": 1, "image": "/srv/orv/os161.os",
       "result": "ok", "message": "", "download_mode": false,
       "os_before": {"version": "1.50", "date": "01/2009", "flash": "AT29C020"},
       "os_after": {"version": "1.61", "date": "03/2010", "flash": "AT29C020"},
       "os_image": {"version": "1.61", "date": "03/2010", "flash": "AT29C020"}, "seconds": 21.4}
stderr:
  description: What orv-flash wrote on standard error (its messages and warnings).
  type: str
  returned: always
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.orv.plc.plugins.module_utils.orv_flash import (
    failure_message, run_plan, summary_of)


def main():
    module = AnsibleModule(
        argument_spec=dict(
            plan=dict(type='path', required=True),
            stop_plc=dict(type='bool'),
            skip_current=dict(type='bool', default=True),
            executable=dict(type='path'),
            timeout=dict(type='int', default=3600),
        ),
        supports_check_mode=True,
    )
    p = module.params
    args = []
    if p['stop_plc'] is not None:
        args += ['--stop-plc', 'yes' if p['stop_plc'] else 'no']
    if p['skip_current']:
        args.append('--skip-current')
    if module.check_mode:
        args.append('--dry-run')

    rc, events, stderr, timed_out = run_plan(module, p['plan'], args, p['timeout'])
    summary = summary_of(events)
    result = dict(changed=False, rc=rc, stderr=stderr)
    if summary is not None:
        plcs = summary.pop('plcs', [])
        # The image went over: the PLC's OS changed, verified or not.
        changing = ('update',) if module.check_mode else ('ok', 'verify-failed')
        result.update(changed=any(plc.get('result') in changing for plc in plcs),
                      summary=summary, plcs=plcs)
    if rc != 0 or summary is None:
        module.fail_json(msg=failure_message(rc, events, stderr, timed_out, p['timeout']),
                         **result)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
