"""CPU time of processes from /proc/<pid>/stat, for the benchmarks that measure it."""

import os

TICKS = os.sysconf("SC_CLK_TCK")


def _fields(pid):
    # The command name may hold spaces and ")": the fields start after its last ")".
    with open(f"/proc/{pid}/stat") as f:
        return f.read().rsplit(")", 1)[1].split()


def cpu_ticks(pid):
    """User plus system CPU time of `pid` so far, in clock ticks (TICKS a second)."""
    fields = _fields(pid)
    return int(fields[11]) + int(fields[12])


def session_members(sid):
    """Every process of session `sid` (a program started with start_new_session=True and the
    helper processes it started)."""
    members = []
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            if int(_fields(name)[3]) == sid:
                members.append(int(name))
        except OSError:
            continue
    return members


def session_cpu_ms(sid):
    """CPU time so far of every process of session `sid`, in milliseconds."""
    total = 0
    for pid in session_members(sid):
        try:
            total += cpu_ticks(pid)
        except OSError:
            continue
    return total * 1000.0 / TICKS
