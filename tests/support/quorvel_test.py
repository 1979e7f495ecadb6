"""Shared pieces of the tests that run Quorvel's programs from outside: the
program under test, waiting for a condition, and a home of the test's own."""

import os
import sys
import time

# How long a condition may take; a test module may raise it (sanitizer builds
# on a busy machine are slow). Conditions are polled, never timed.
DEADLINE = 30.0

# The product version the build was made with (CTest passes it).
VERSION = os.environ.get("QUORVEL_VERSION", "")


def wait_for(condition, deadline=None):
    """Polls condition until it holds or the deadline passes; answers the
    last result."""
    end = time.monotonic() + (DEADLINE if deadline is None else deadline)
    while time.monotonic() < end:
        if condition():
            return True
        time.sleep(0.05)
    return condition()


def home_environment(directory, cache="cache"):
    """The environment for a program whose options, languages and default
    paths come from a home of the test's own, outside any service manager."""
    env = dict(os.environ)
    env["HOME"] = directory
    env["XDG_CONFIG_HOME"] = os.path.join(directory, "config")
    env["XDG_CACHE_HOME"] = os.path.join(directory, cache)
    env.pop("NOTIFY_SOCKET", None)
    return env


def take_program_argument():
    """The program named by the first command-line argument, removed from
    sys.argv so that unittest does not see it."""
    return os.path.abspath(sys.argv.pop(1))
