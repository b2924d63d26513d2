"""The updater under an elevated start from a download folder: DLLs planted
beside it are never loaded."""
import bench
from bench import IDOK, IDYES, TEXT_ID

# DLLs that the shell, the common controls and COM load on demand, and the
# one the first updaters imported for their clock.
PLANTED = ["winmm", "version", "uxtheme", "dwmapi", "cryptbase", "userenv", "propsys", "profapi"]
TITLE = "植え込み試験"


class PlantedDllTest(bench.BenchTest):
    # Native first, as Windows searches: beside the executable before the
    # system folder.
    dll_overrides = ",".join(PLANTED) + "=n,b"

    def test_no_planted_dll_is_loaded_through_start_up_and_copy(self):
        game = self.wine.drive_c / "Program Files" / "Game"
        game.mkdir(parents=True)
        (game / "game.exe").write_bytes(b"old")
        for name in PLANTED:
            self.wine.install(bench.PROGRAMS / "planted.dll", name + ".dll")
        settings = "TITLEBAR\t%s\r\nINSTTO\tGame\r\nKEYFILE\tgame.exe\r\n[EOF]\r\n" % TITLE
        updater = bench.write_updater(self.wine.dir / "u.exe", [
            ("install.env", settings.encode("cp932"), 0),
            ("insttscr.rct", (bench.REPO / "examples" / "demo-update" / "insttscr.rct").read_bytes(), 0),
            ("game.exe", b"new", 0)])
        program = self.wine.start(updater)
        window = self.wine.wait_window(pid=program.pid, title=TITLE + " アップデータ")
        self.assertIsNotNone(window, "no start-up window")
        update = [i for i, c in self.wine.controls(window["hwnd"]).items()
                  if c["text"] == "アップデート"]
        self.wine.click(window["hwnd"], update[0])
        for text, answer in (("[C:\\Program Files\\Game]をアップデートします", IDYES), (None, IDOK)):
            def box():
                for candidate in self.wine.windows(pid=program.pid, cls="#32770", visible=1):
                    controls = self.wine.controls(candidate["hwnd"]) or {}
                    shown = controls.get(TEXT_ID, {}).get("text")
                    if candidate["hwnd"] != window["hwnd"] and (
                            shown == text if text else candidate["title"] == "インストール終了"):
                        return candidate
            bench.wait_for(box, 30, "no window saying %s" % (text or "インストール終了"))
            self.wine.click(box()["hwnd"], answer)
        self.assertEqual(program.wait_exit(), 0)
        self.assertEqual((game / "game.exe").read_bytes(), b"new")
        self.assertEqual(sorted(p.name for p in self.wine.bench_dir.glob("*.loaded")), [])
