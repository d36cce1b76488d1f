"""The guest's output as the VM tests read it: "@@@ name" lines open sections, and checks
collect their failures before the test reports them all at once."""
import re
import sys


def read_sections(path):
    """The whole output and its sections by name (the text after "@@@ ", up to the line end)."""
    out = open(path).read()
    sections = {}
    for block in re.split(r"^@@@ ", out, flags=re.M)[1:]:
        head, _, body = block.partition("\n")
        sections[head.strip()] = body
    return out, sections


class Checks:
    def __init__(self):
        self.failures = []

    def check(self, what, got, want):
        if got != want:
            self.failures.append(f"{what}: got {got!r}, expected {want!r}")

    def finish(self, out, passed):
        """Every failure and the whole output, exit 1; or the `passed` line."""
        if self.failures:
            print("FAILED:\n  " + "\n  ".join(self.failures))
            print(out)
            sys.exit(1)
        print(passed)
