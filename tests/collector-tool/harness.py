# Runs the cases of one collector-tool test file for ctest: "--tool PATH"
# names the collector, the rest is unittest's own command line. The exit
# status says what happened: 0 when every case ran and passed, 77 (the
# tests' SKIP_RETURN_CODE) when none failed but some could not run here, 1
# otherwise, also when no case matched.

import os, sys, unittest

SKIPPED = 77


def main():
    module = sys.modules["__main__"]
    module.TOOL = os.path.abspath(sys.argv.pop(sys.argv.index("--tool") + 1))
    sys.argv.remove("--tool")
    result = unittest.main(module=module, exit=False).result
    sys.exit(1 if not result.wasSuccessful() or not result.testsRun else SKIPPED if result.skipped else 0)
