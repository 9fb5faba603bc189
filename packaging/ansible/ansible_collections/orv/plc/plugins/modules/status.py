# -*- coding: utf-8 -*-
# Copyright: Orv OS update developers
# MIT License (see the LICENSE of orv-os-update)

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: status
short_description: Read the status of the PLCs a plan lists, as facts
description:
  - Runs C(orv-flash --plan PLAN --dry-run --skip-current --json) on the managed host; each PLC
    of the plan is asked for its status at its line's settings, and nothing else is sent.
  - Sets the fact C(orv_plcs), one entry per PLC of the plan, with the OS it reports and whether
    it runs the OS of its line's image already.
  - A PLC that does not answer is reported with C(reachable) false; the task fails only when
    the plan cannot be run (a refused plan, no orv-flash).
version_added: 1.61.0
author:
  - Orv OS update developers (@orv)
requirements:
  - orv-flash (the orv-os-update package) on the managed host
options:
  plan:
    description:
      - Path of the plan file on the managed host (the same file M(orv.plc.flash) takes).
    type: path
    required: true
  executable:
    description:
      - Path of orv-flash on the managed host; by default the one found on the search path.
    type: path
  timeout:
    description:
      - Seconds the whole plan may take; then orv-flash is interrupted and the task fails.
    type: int
    default: 600
attributes:
  check_mode:
    support: full
    description: Reads the same status in check mode; nothing is changed either way.
  diff_mode:
    support: none
  facts:
    support: full
seealso:
  - module: orv.plc.flash
'''

EXAMPLES = r'''
- name: Read the PLCs of the cabinet
  orv.plc.status:
    plan: /srv/orv/cabinet.csv

- name: List the PLCs that need the new OS
  ansible.builtin.debug:
    msg: "{{ orv_plcs | rejectattr('current') | map(attribute='station') | list }}"
'''

RETURN = r'''
ansible_facts:
  description: The facts set.
  returned: always
  type: dict
  contains:
    orv_plcs:
      description: One entry per PLC, in the plan's order.
      type: list
      elements: dict
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
        reachable:
          description: The PLC answered its status request.
          type: bool
        os:
          description: The OS the PLC reports (version, date, flash), or null when it did not
            answer.
          type: dict
        image_os:
          description: The OS of the line's image.
          type: dict
        current:
          description: The PLC reports the image's OS already.
          type: bool
        message:
          description: Why it could not be reached, or what an update would do.
          type: str
      sample:
        - {"plan_line": 2, "port": "ttyUSB0", "station": 1, "reachable": true,
           "os": {"version": "1.50", "date": "01/2009", "flash": "AT29C020"},
           "image_os": {"version": "1.61", "date": "03/2010", "flash": "AT29C020"},
           "current": false, "message": "update: 1.50 of 01/2009 -> 1.61 of 03/2010 ..."}
rc:
  description: The exit code of orv-flash (0 when every PLC answered).
  type: int
  returned: always
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.orv.plc.plugins.module_utils.orv_flash import (
    failure_message, run_plan, summary_of)


def main():
    module = AnsibleModule(
        argument_spec=dict(
            plan=dict(type='path', required=True),
            executable=dict(type='path'),
            timeout=dict(type='int', default=600),
        ),
        supports_check_mode=True,
    )
    p = module.params
    rc, events, stderr, timed_out = run_plan(module, p['plan'], ['--dry-run', '--skip-current'],
                                             p['timeout'])
    summary = summary_of(events)
    if summary is None or timed_out:
        module.fail_json(msg=failure_message(rc, events, stderr, timed_out, p['timeout']),
                         rc=rc, stderr=stderr)
    plcs = []
    for plc in summary.get('plcs', []):
        reachable = plc.get('result') in ('update', 'current')
        plcs.append(dict(
            plan_line=plc.get('plan_line'),
            port=plc.get('port'),
            station=plc.get('station'),
            reachable=reachable,
            os=plc.get('os_before') if reachable else None,
            image_os=plc.get('os_image'),
            current=plc.get('result') == 'current',
            message=plc.get('message', ''),
        ))
    module.exit_json(changed=False, rc=rc, ansible_facts=dict(orv_plcs=plcs))


if __name__ == '__main__':
    main()
