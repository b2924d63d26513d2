"""The driver's own promises that the updater's tests build on: objects held
across commands, sharing refused, registry read without a console code page,
exit codes kept whole, box keys and the quit message."""
import json
import subprocess

import bench

PAYLOAD_TEXT = "ファイルの読み込みに失敗しました。"


class DriverTest(bench.BenchTest):

    def one_shot(self, command, **args):
        """Runs the driver as a second process of the same session. Values are
        escaped: wine turns a non-ASCII argument into mojibake without a
        UTF-8 locale."""
        words = ["%s=%s" % (k, bench.quote(v)) for k, v in args.items()]
        out = subprocess.run(["wine", str(bench.config.driver()), command] + words,
                             env=self.wine.env, stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=60)
        return json.loads(out.stdout.decode("utf-8").strip().splitlines()[-1])

    def test_objects_held_by_the_driver_are_seen_by_other_processes(self):
        name = "ベンチ アップデータ"  # a mutex name like the updater's, not ASCII
        self.assertFalse(self.wine.expect("mutexexists", name=name)["exists"])
        self.assertFalse(self.wine.expect("mutex", name=name)["existed"])
        self.assertTrue(self.one_shot("mutex", name=name)["existed"])
        self.wine.expect("release", name=name)
        self.assertFalse(self.wine.expect("mutexexists", name=name)["exists"])

        path = self.wine.to_windows(self.wine.drive_c) + "held.txt"
        self.wine.expect("holdfile", path=path)
        refused = self.one_shot("holdfile", path=path)
        self.assertEqual((refused["ok"], refused.get("code")), (False, 32),
                         "a second open must meet a sharing violation")
        self.wine.expect("releasefile", path=path)
        self.assertTrue(self.one_shot("holdfile", path=path)["ok"])

    def test_registry_and_clock(self):
        exists, data = self.wine.registry("Software\\Wine\\Fonts\\Replacements", "MS Shell Dlg")
        self.assertEqual((exists, data), (True, "IPAPGothic"))
        self.assertEqual(self.wine.registry("Software\\NoSuchKey", "x"), (False, None))
        first = self.wine.clock()
        self.wine.call("wait", cls="NoSuchClass", timeout=300)
        self.assertGreaterEqual(self.wine.clock() - first, 300)

    def test_programs_end_through_keys_close_and_quit_with_whole_exit_codes(self):
        # The stand-in answers any way out of its box with -1; what is tested
        # here is that each way closes a box, and that -1 arrives whole.
        ways = [
            ("escape", lambda box, p: self.wine.expect("key", hwnd=box["hwnd"], vk=0x1B, focus=1)),
            ("close", lambda box, p: self.wine.expect("close", hwnd=box["hwnd"])),
            ("quit", lambda box, p: self.wine.expect("postquit", tid=p.tid, code=7)),
        ]
        standin = bench.config.build / "tests" / "e2e" / "standin.exe"
        for way, act in ways:
            with self.subTest(way=way):
                program = self.wine.start(standin, name="standin.exe")
                box = self.wine.wait_window(pid=program.pid, cls="#32770", text=PAYLOAD_TEXT)
                self.assertIsNotNone(box)
                act(box, program)
                self.assertEqual(program.wait_exit(10), 0xFFFFFFFF)

    def test_started_through_wine_the_exit_code_is_cut_to_8_bits(self):
        standin = bench.config.build / "tests" / "e2e" / "standin.exe"
        program = self.wine.start(standin, name="standin.exe", via_wine=True)
        box = self.wine.wait_window(pid=program.pid, cls="#32770")
        self.assertIsNotNone(box)
        self.wine.click(box["hwnd"], 1)
        self.assertEqual(program.wait_exit(10), 0xFFFFFFFF)
        self.assertEqual(program.wine_process.wait(20), 255)
