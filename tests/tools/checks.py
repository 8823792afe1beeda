"""What the end-to-end tests of the talvo program share: checks that record a failure and go on,
running a command, and the exit status the checks add up to."""
import subprocess

FAILURES = []


def check(condition, what):
    if not condition:
        FAILURES.append(what)
        print("FAILED:", what)
    return condition


def run(*command, **options):
    """Runs the command to its end, its output read as text."""
    return subprocess.run(list(command), capture_output=True, text=True, **options)


def refused(result, code, what, says=""):
    """The run ended with exit code `code` and a message on standard error that contains `says`."""
    err = result.stderr.strip()
    return check(result.returncode == code and err and says in err,
                 "%s: exit %d (want %d), message %r" % (what, result.returncode, code, err))


def finish(passed):
    """Prints the outcome (`passed` when every check held); returns the exit status."""
    if FAILURES:
        print("%d check(s) failed" % len(FAILURES))
        return 1
    print(passed)
    return 0
