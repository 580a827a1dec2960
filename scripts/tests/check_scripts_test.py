#!/usr/bin/env python3
"""The two source checks on small trees made here: a loop of includes is found and a tree
without one passes; raw releases are found where they are calls of the C library or of a
release function, and not in comments, literals, members, declarations or holder files."""
import importlib.machinery
import importlib.util
import pathlib
import subprocess
import sys
import tempfile
import textwrap
import unittest

SCRIPTS = pathlib.Path(__file__).resolve().parent.parent


def load(script):
    loader = importlib.machinery.SourceFileLoader(script.replace("-", "_"), str(SCRIPTS / script))
    module = importlib.util.module_from_spec(importlib.util.spec_from_loader(loader.name, loader))
    loader.exec_module(module)
    return module


holders = load("check-holders")


def run(script, root, *args):
    done = subprocess.run([sys.executable, str(SCRIPTS / script), "--root", str(root), *args],
                          capture_output=True, text=True, timeout=60)
    return done.returncode, done.stdout + done.stderr


def write(root, files):
    for name, text in files.items():
        path = root / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(textwrap.dedent(text))


class IncludeCycles(unittest.TestCase):
    # a.h/a.cpp and b.h/b.cpp are units a and b; c.h is a unit of its own, in another component.
    BASE = {
        "platform/one/a.h": '#include "c.h"\n',
        "platform/one/b.h": "\n",
        "platform/one/b.cpp": '#include "b.h"\n',
        "platform/two/c.h": "\n",
        "platform/one/tests/a_test.cpp": '#include "a.h"\n#include "b.h"\n',
    }

    def check(self, extra):
        with tempfile.TemporaryDirectory() as tmp:
            root = pathlib.Path(tmp)
            write(root, {**self.BASE, **extra})
            return run("check-include-cycles", root)

    def test_a_tree_without_a_loop_passes(self):
        status, out = self.check({"platform/one/a.cpp": '#include "a.h"\n#include "b.h"\n'})
        self.assertEqual(status, 0, out)

    def test_a_header_and_its_source_are_one_unit(self):
        # b.cpp includes a.h, a.cpp includes b.h: no file includes itself, yet the units loop.
        status, out = self.check({"platform/one/a.cpp": '#include "b.h"\n',
                                  "platform/one/b.cpp": '#include "b.h"\n#include "a.h"\n'})
        self.assertEqual(status, 1, out)
        self.assertIn("a -> b -> a", out)
        self.assertIn("platform/one/b.cpp:2 includes a.h", out)

    def test_a_loop_through_another_component_and_a_comment(self):
        status, out = self.check({
            "platform/one/a.cpp": '#include "a.h"\n',
            "platform/two/c.h": '/* #include "b.h" is not an include */\n#include "b.h"\n',
            "platform/one/b.h": '#include "a.h"\n'})
        self.assertEqual(status, 1, out)
        self.assertIn("a -> c.h -> b -> a", out)
        self.assertIn("platform/two/c.h:2 includes b.h", out)

    def test_a_name_in_two_components_is_ambiguous(self):
        status, out = self.check({"platform/three/b.h": "\n", "platform/two/c.cpp": '#include "b.h"\n'})
        self.assertEqual(status, 1, out)
        self.assertIn('ambiguous include: platform/two/c.cpp: "b.h"', out)


class Holders(unittest.TestCase):
    def findings(self, name, code):
        with tempfile.TemporaryDirectory() as tmp:
            root = pathlib.Path(tmp)
            write(root, {name: code})
            status, out = run("check-holders", root)
            lines = [line for line in out.splitlines() if not line.startswith("check-holders:")]
            return status, lines

    def test_raw_releases_are_found(self):
        cases = [
            ("close(fd);", "close("), ("::close(fd);", "close("), ("std::free(p);", "free("),
            ("return free(p), 0;", "free("), ("if (x) free(p);", "free("),
            ("g_object_unref(o);", "g_object_unref("), ("gst_object_unref(e);", "gst_object_unref("),
            ("sqlite3_finalize(s);", "sqlite3_finalize("), ("sqlite3_close(db);", "sqlite3_close("),
            ("XML_ParserFree(p);", "XML_ParserFree("), ("plist_free(p);", "plist_free("),
            ("ubrk_close(b);", "ubrk_close("), ("closedir(d);", "closedir("),
            # Release functions handed over as values.
            ("g_list_free_full(list, g_object_unref);", "g_object_unref as a value"),
            ("g_list_free_full(list, free);", "free as a value"),
            ("std::unique_ptr<char, decltype(&std::free)> p;", "free as a value"),
            ("g_ptr_array_new_with_free_func((GDestroyNotify)g_object_unref);", "g_object_unref as a value"),
        ]
        for code, kind in cases:
            with self.subTest(code=code):
                self.assertEqual(holders.findings(pathlib.Path("x.cpp"), "void f() {\n  " + code + "\n}\n"), [(2, kind)])
        # The whole script, on a file in a tree.
        status, lines = self.findings("platform/x/x.cpp", "void f() {\n  close(fd);\n}\n")
        self.assertEqual(status, 1)
        self.assertEqual(lines, ["platform/x/x.cpp:2: close( outside a holder: close(fd);"])

    def test_what_is_not_a_raw_release(self):
        code = """\
            // free(p) and close(fd) in a comment, /* g_object_unref(o) */ too
            const char* s = "free(p) close(3) g_object_unref(o)";
            const char* r = R"x(free(p) ")" close(1))x";
            char c = '(';
            int n = 1'000;
            void close(int);
            struct A { void free(); bool close(int x); void f() { free(); close(); } };
            void A::free() {}
            void g() {
              a.close(); p->free(1); fclose(f); g_free(p); kiss_fft_free(c);
              gdk_pixbuf_loader_close(l, nullptr); Player::close(h); call(close, 1);
            }
            """
        self.assertEqual(holders.findings(pathlib.Path("x.cpp"), textwrap.dedent(code)), [])

    def test_holder_files_may_release(self):
        code = "void f() { g_list_free_full(l, g_object_unref); close(fd); free(p); plist_free(p); }\n"
        for name in ("platform/base/holders.h", "platform/base/holders.cpp", "platform/glib/glib_ptr.h"):
            with self.subTest(name=name):
                self.assertEqual(self.findings(name, code), (0, []))
        status, lines = self.findings("platform/base/holders_extra.h", code)
        self.assertEqual(status, 1)
        self.assertEqual(len(lines), 4, lines)


if __name__ == "__main__":
    unittest.main(verbosity=2)
