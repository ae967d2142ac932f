"""The manual's tutorials run as written and print the numbers they show.

Every chapter of docs/ with marked blocks runs in its own scratch directory
(docs/run_tutorial.py says how blocks are marked). A block that fails, or
output that differs from what the chapter shows, fails the test; Python
blocks needing names the femtokit module does not have yet are skipped with
the reason. Also tests of the runner's comparison and of the Doxygen filter.
"""
import os
import pathlib
import sys

import pytest

SOURCE_DIR = pathlib.Path(os.environ.get("FEMTOKIT_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))
FEMTOKIT = os.environ.get("FEMTOKIT_PROGRAM", str(SOURCE_DIR / "build" / "femtokit"))
sys.path.insert(0, str(SOURCE_DIR / "docs"))

import doxygen_filter  # noqa: E402
import run_tutorial  # noqa: E402

CHAPTERS = sorted(p.name for p in (SOURCE_DIR / "docs").glob("*.md")
                  if run_tutorial.extract(p.read_text(encoding="utf-8")))


def test_tutorials_are_marked():
    assert {"tutorial_pp.md", "tutorial_levy.md", "tutorial_3d.md"} <= set(CHAPTERS)


@pytest.mark.parametrize("chapter", CHAPTERS)
def test_chapter_runs_and_shows_its_output(chapter, tmp_path):
    outcomes = run_tutorial.run_chapter(SOURCE_DIR / "docs" / chapter, FEMTOKIT, str(tmp_path))
    failed = [o for o in outcomes if o.status == "failed"]
    assert not failed, "\n\n".join(repr(o) for o in failed)
    assert any(o.status == "ran" and o.block.kind == "output" for o in outcomes), "no output was checked"
    skipped = [o for o in outcomes if o.status == "skipped"]
    if skipped:
        pytest.skip("%s: %d blocks skipped, e.g. line %d: %s" %
                    (chapter, len(skipped), skipped[0].block.line, skipped[0].detail))


class TestCompare:
    def test_numbers_within_tolerance_or_last_digit(self):
        assert run_tutorial.compare("R   4.9968e+00  fit", "R   4.99684e+00  fit", 1e-6) is None
        assert run_tutorial.compare("chi^2=57.6954, dof=58", "chi^2=57.70, dof=58", 1e-3) is None
        assert run_tutorial.compare("chi^2=57.6954", "chi^2=57.80", 1e-3) is not None
        assert run_tutorial.compare("x = 0.6020", "x = 0.6021", 1e-9) is None     # last digit shown
        assert run_tutorial.compare("x = 0.6020", "x = 0.6022", 1e-9) is not None

    def test_words_and_counts_must_match(self):
        assert run_tutorial.compare("status: converged", "status: failed", 1e-3) is not None
        assert run_tutorial.compare("a 1 2", "a 1 2 3", 1e-3) is not None
        assert run_tutorial.compare("a 1", "a 1\nb 2", 1e-3) is not None
        assert run_tutorial.compare("R 5", "R -5", 1e-3) is not None

    def test_ellipsis_stands_for_any_lines(self):
        actual = "head 1\nmiddle 2\nmiddle 3\ntail 4\n"
        assert run_tutorial.compare("head 1\n...\ntail 4", actual, 1e-3) is None
        assert run_tutorial.compare("head 1\n...", actual, 1e-3) is None
        assert run_tutorial.compare("...\nmiddle 3\n...", actual, 1e-3) is None
        assert run_tutorial.compare("head 1\n...\nnot there", actual, 1e-3) is not None


class TestRunner:
    def chapter(self, tmp_path, text):
        path = tmp_path / "chapter.md"
        path.write_text(text, encoding="utf-8")
        work = tmp_path / "work"
        work.mkdir()
        return run_tutorial.run_chapter(path, "/bin/true", str(work), env=dict(os.environ))

    def test_blocks_share_a_directory_and_sessions(self, tmp_path):
        out = self.chapter(tmp_path, "<!-- run -->\n```sh\necho 7 > n.txt\n```\n"
                                     "<!-- run python -->\n```python\nx = int(open('n.txt').read())\nprint(x)\n```\n"
                                     "<!-- output -->\n```text\n7\n```\n"
                                     "<!-- run python -->\n```python\nprint(x * 2)\n```\n"
                                     "<!-- output -->\n```\n14\n```\n")
        assert [o.status for o in out] == ["ran"] * 5

    def test_exit_status_and_wrong_output_fail(self, tmp_path):
        out = self.chapter(tmp_path, "<!-- run exit=3 -->\n```sh\necho a; exit 3\n```\n"
                                     "<!-- output -->\n```\nb\n```\n"
                                     "<!-- run -->\n```sh\nfalse\ntrue\n```\n")
        assert [o.status for o in out] == ["ran", "failed", "failed"]

    def test_missing_module_names_skip_the_session(self, tmp_path):
        out = self.chapter(tmp_path, "<!-- run python needs=NoSuchName -->\n```python\nprint(1)\n```\n"
                                     "<!-- output -->\n```\n1\n```\n"
                                     "<!-- run python -->\n```python\nprint(2)\n```\n"
                                     "<!-- run python fresh -->\n```python\nprint(3)\n```\n"
                                     "<!-- output -->\n```\n3\n```\n")
        assert [o.status for o in out] == ["skipped", "skipped", "skipped", "ran", "ran"]
        assert "NoSuchName" in out[0].detail or "module itself" in out[0].detail

    def test_marker_without_block_is_an_error(self):
        with pytest.raises(ValueError):
            run_tutorial.extract("<!-- run -->\ntext\n")


class TestDoxygenFilter:
    def test_block_above_declaration_becomes_documentation(self):
        src = ["// Fits a model.", "// Units: fm.", "int Fit(double r);", "", "// Loose remark.", "",
               "int Other();"]
        out = doxygen_filter.filter_lines(src)
        assert out[:3] == ["/// Fits a model.", "/// Units: fm.", "int Fit(double r);"]
        assert out[4] == "// Loose remark."     # separated by a blank line: not documentation

    def test_markup_characters_are_escaped(self):
        out = doxygen_filter.filter_lines(["// <parameter dict> & \\f @p #1 100%", "void f();"])
        assert out[0] == "/// \\<parameter dict\\> \\& \\\\f \\@p \\#1 100\\%"

    def test_trailing_member_comments(self):
        out = doxygen_filter.filter_lines(["struct S {", "  double x = 0;  // in fm", "};"])
        assert out[1] == "  double x = 0;  ///< in fm"

    def test_function_bodies_and_preprocessor_left_alone(self):
        src = ["// File header.", "#ifndef X_H", "inline int f() {", "  // inside", "  int y = 1;  // local",
               "  return y;", "}", "class C {", " public:", "  // member", "  int g() const { return 1; }", "};"]
        out = doxygen_filter.filter_lines(src)
        assert out[0] == "// File header."
        assert out[3] == "  // inside" and out[4] == "  int y = 1;  // local"
        assert out[9] == "  /// member"
        assert len(out) == len(src)


def test_source_parameter_tables_are_current():
    """docs/sources.md shows each model's table as the program prints it."""
    sys.path.insert(0, str(SOURCE_DIR / "docs" / "figures"))
    import make_figures
    tables = make_figures.parameter_tables(FEMTOKIT)
    assert set(tables) == {"gx1d", "levy", "gauss3d", "blast", "events"}
    text = (SOURCE_DIR / "docs" / "sources.md").read_text(encoding="utf-8")
    for model, table in tables.items():
        assert "<!-- table %s -->\n%s\n<!-- end table -->" % (model, table) in text, \
            "the %s table of docs/sources.md is stale: run docs/figures/make_figures.py" % model
