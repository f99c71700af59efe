#!/usr/bin/env python3
"""The build's check of the file-local names of test files that may share a unity unit, run on file pairs."""
import pathlib
import re
import subprocess
import sys
import tempfile
import unittest

SCRIPT = pathlib.Path(__file__).resolve().parents[2] / 'scripts' / 'check-test-names.py'
# Each line of one file against the same line of the other: a unity unit of both fails on the first four.
FIRST = ['enum Mode { kFast, kSlow };', 'enum { kRounds = 3 };', '#define kLimit 4',
         'std::vector<int> kList(3, 1);', 'int Twice(int x) { return 2 * x; }']
SECOND = ['enum Speed { kFast, kQuick };', 'enum { kRounds = 5 };', '#define kLimit 5',
          'std::vector<int> kList(2, 2);', 'double Twice(double x) { return 2 * x; }']


class CheckTestNamesTest(unittest.TestCase):
    def check(self, *bodies):
        """The check's exit code and the names it flags, on one test file per list of lines."""
        with tempfile.TemporaryDirectory() as folder:
            files = []
            for i, lines in enumerate(bodies):
                files.append(pathlib.Path(folder, f'File{i}Test.cpp'))
                text = ['#include <vector>', 'namespace {', *lines, '}  // namespace', '']
                files[-1].write_text('\n'.join(text))
            stamp = pathlib.Path(folder, 'names.stamp')
            run = subprocess.run([sys.executable, SCRIPT, stamp, *files], capture_output=True, text=True,
                                 timeout=60)
            self.assertEqual(run.returncode == 0, stamp.exists(), run.stderr)
            return run.returncode, re.findall(r'file-local name (?:macro )?(\w+)', run.stderr)

    def test_enumerators_macros_and_parenthesised_variables_clash_and_overloads_do_not(self):
        self.assertEqual(self.check(FIRST, SECOND), (1, ['kFast', 'kRounds', 'kLimit', 'kList']))
        self.assertEqual(self.check(FIRST[2:], ['#define kLimit 4', *SECOND[4:]]), (0, []))

    def test_functions_of_the_same_parameter_types_clash(self):
        self.assertEqual(self.check(FIRST[4:], ['long Twice(const int y) { return y; }']), (1, ['Twice']))

    def test_no_file_passes(self):
        self.assertEqual(self.check(), (0, []))


if __name__ == '__main__':
    unittest.main()
