# -*- coding: utf-8 -*-
# Copyright: Orv OS update developers
# MIT License (see the LICENSE of orv-os-update)
"""Runs orv-flash on a plan and reads its JSON events, for the modules of orv.plc."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json
import os
import signal
import subprocess
import tempfile
import time

# orv-flash aborts every run on an interrupt, leaves a PLC in download mode as it is and says
# so; given this long to do that, it is then killed.
INTERRUPT_GRACE = 60

# The results of a PLC that end a plan well: updated and verified, already current, and a dry
# run's verdicts.
GOOD_RESULTS = ('ok', 'current', 'update')


def run_plan(module, plan, extra_args, timeout):
    """orv-flash --plan PLAN --json EXTRA_ARGS: (exit code, events, standard error, timed out)."""
    executable = module.params.get('executable') or module.get_bin_path('orv-flash', required=True)
    argv = [executable, '--plan', plan, '--json'] + list(extra_args)
    # Files, not pipes: an update prints an event a page, far more than a pipe holds.
    out = tempfile.TemporaryFile()
    err = tempfile.TemporaryFile()
    devnull = open(os.devnull, 'rb')
    try:
        try:
            proc = subprocess.Popen(argv, stdin=devnull, stdout=out, stderr=err)
        except OSError as e:
            module.fail_json(msg='cannot run %s: %s' % (executable, e), cmd=argv)
        timed_out = False
        deadline = time.time() + timeout
        while proc.poll() is None:
            if not timed_out and time.time() > deadline:
                timed_out = True
                proc.send_signal(signal.SIGINT)
                deadline = time.time() + INTERRUPT_GRACE
            elif timed_out and time.time() > deadline:
                proc.kill()
            time.sleep(0.1)
        out.seek(0)
        err.seek(0)
        stdout = out.read().decode('utf-8', 'replace')
        stderr = err.read().decode('utf-8', 'replace')
    finally:
        devnull.close()
        out.close()
        err.close()
    events = []
    for line in stdout.splitlines():
        try:
            event = json.loads(line)
        except ValueError:
            continue
        if isinstance(event, dict):
            events.append(event)
    return proc.returncode, events, stderr, timed_out


def summary_of(events):
    """The plan's summary event without its event name and time; None when there was none."""
    for event in reversed(events):
        if event.get('event') == 'summary':
            summary = dict(event)
            summary.pop('event', None)
            summary.pop('t', None)
            return summary
    return None


def describe(plc):
    """One PLC of a summary in words, for a failure message."""
    text = 'plan line %s (%s station %s): %s' % (
        plc.get('plan_line'), plc.get('port'), plc.get('station'), plc.get('result'))
    if plc.get('message'):
        text += ': ' + plc['message']
    return text


def failure_message(rc, events, stderr, timed_out, timeout):
    """Why a plan did not end well: the PLCs that failed, or what orv-flash said."""
    summary = summary_of(events)
    if summary is not None:
        failed = [describe(p) for p in summary.get('plcs', []) if p.get('result') not in GOOD_RESULTS]
        text = '; '.join(failed) or 'orv-flash exited with %d' % rc
    else:
        done = [e for e in events if e.get('event') == 'done']
        lines = [line for line in stderr.splitlines() if line.strip()]
        text = (done[-1].get('message') if done else '') or '; '.join(lines[-5:]) or \
            'orv-flash exited with %d and no summary' % rc
    if timed_out:
        text = 'interrupted after the timeout of %d s: %s' % (timeout, text)
    return text
