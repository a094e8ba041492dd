# Checks the seeded-fault runner's operators and runs it whole on a tiny sample project.
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPTS = os.path.join(HERE, "..", "..", "scripts")
sys.path.insert(0, SCRIPTS)
import mutate_operators  # noqa: E402


def faults(line, starts_statement=True):
    return dict((new, op) for op, new in mutate_operators.mutants(line, starts_statement))


class Operators(unittest.TestCase):
    def test_spaced_operators_only(self):
        found = faults("    if (a < b && items.size() != 0) {")
        self.assertEqual(found["    if (a > b && items.size() != 0) {"], "flip-comparison")
        self.assertEqual(found["    if (a <= b && items.size() != 0) {"], "comparison-edge")
        self.assertEqual(found["    if (a < b && items.size() == 0) {"], "flip-comparison")
        self.assertEqual(found["    if (a < b) {"], "drop-clause")
        self.assertEqual(found["    if (items.size() != 0) {"], "drop-clause")
        # Template brackets, arrows and streams are not comparisons.
        self.assertEqual(faults("    std::vector<Key> keys = p->Read<int>();"), {})

    def test_strings_and_comments_are_left_alone(self):
        line = '    Log("a < b + c"); // x == y'
        self.assertEqual(list(faults(line).values()), ["delete-statement"])
        self.assertEqual(faults('    text = name + ": missing";'),
                         {"    ;": "delete-statement"})
        self.assertEqual(faults('    ImGui::TextColored(ImVec4(1.0f, 0.8f, 0.2f, 1.0f), "(!)");'),
                         {"    ;": "delete-statement"})

    def test_clauses_inside_brackets(self):
        found = faults("    return x >= 0 && (y || z);")
        self.assertIn("    return x >= 0;", found)
        self.assertIn("    return (y || z);", found)
        self.assertIn("    return x >= 0 && (y);", found)
        self.assertIn("    return x >= 0 && (z);", found)
        # A scope's colons belong to the clause; a conditional's colon ends it.
        found = faults("    if (!start && song->State() == State::Playing) {")
        self.assertIn("    if (!start) {", found)
        self.assertIn("    if (song->State() == State::Playing) {", found)
        self.assertIn("    return a ? b : d;", faults("    return a ? b : c && d;"))

    def test_constants_statements_and_arguments(self):
        found = faults("    total += Scale(weights, 0.5f) * count[1];")
        self.assertIn("    total -= Scale(weights, 0.5f) * count[1];", found)
        self.assertIn("    total += Scale(weights, 1.5f) * count[1];", found)
        self.assertIn("    total += Scale(weights, 0.5f) * count[0];", found)
        self.assertIn("    total += Scale(0.5f, weights) * count[1];", found)
        self.assertNotIn("    v = std::clamp(0, v, 3);", faults("    v = std::clamp(v, 0, 3);"))
        self.assertIn("    ;", found)
        # A line that continues a statement cannot be deleted alone; declarations are kept.
        self.assertNotIn("        ;", faults("        Scale(weights, 2));", False))
        self.assertNotIn("    ;", faults("    const int count = 3;"))

    def test_return_early(self):
        self.assertEqual(faults("void Model::Reset(int x) {"),
                         {"void Model::Reset(int x) { return;": "return-early"})
        self.assertEqual(sorted(faults("bool Ready() const {")),
                         ["bool Ready() const { return false;", "bool Ready() const { return true;"])


class WholeRun(unittest.TestCase):
    def test_sample_project(self):
        with tempfile.TemporaryDirectory() as folder:
            tree = os.path.join(folder, "tree")
            shutil.copytree(os.path.join(HERE, "sample_tree"), tree)
            build = os.path.join(tree, "build")
            subprocess.run(["cmake", "-G", "Ninja", "-S", tree, "-B", build],
                           check=True, capture_output=True)
            subprocess.run(["ninja", "-C", build], check=True, capture_output=True)
            source = os.path.join(tree, "lib", "clamp.cpp")
            with open(source, encoding="utf-8") as f:
                before = f.read()
            run = subprocess.run([os.path.join(SCRIPTS, "mutate"), "lib", "--root", tree, "--build-dir", build,
                                  "--count", "100", "--seed", "5"],
                                 capture_output=True, text=True, check=True)
            with open(source, encoding="utf-8") as f:
                self.assertEqual(f.read(), before)
            # 9 faults, one of them listed as equivalent: four caught, four survive.
            folder_line = next(line for line in run.stdout.splitlines()
                               if line.startswith("lib "))
            self.assertEqual(folder_line.split()[1:4], ["8", "4", "4"])
            self.assertIn("+    return v - v;", run.stdout)
            self.assertNotIn("+    if (v >= 255) {", run.stdout)
            self.assertIn("seed 5, 8 faults", run.stdout)
            # The test program is built from the restored source again.
            self.assertEqual(subprocess.run([os.path.join(build, "sample-tests")]).returncode, 0)


if __name__ == "__main__":
    unittest.main()
