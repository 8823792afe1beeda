"""What the end-to-end tests of the talvo program share: checks that record a failure and go on,
and the exit status they add up to."""
FAILURES = []


def check(condition, what):
    if not condition:
        FAILURES.append(what)
        print("FAILED:", what)
    return condition


def finish(passed):
    """Prints the outcome (`passed` when every check held); returns the exit status."""
    if FAILURES:
        print("%d check(s) failed" % len(FAILURES))
        return 1
    print(passed)
    return 0
