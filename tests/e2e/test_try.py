"""scripts/try.sh as a maker runs it, on the example update: found through
the registry values given, every window answered, the changes listed."""
import sys

import bench

sys.path.insert(0, str(bench.REPO / "scripts"))
import try_updater  # noqa: E402

GAME, KEY = "C:\\Games\\星降る夜の物語", "Software\\HoshifuruSoft\\HoshifuruYoru\\"


class TryTest(bench.BenchTest):
    def test_the_example_update_tried_on_an_installed_game(self):
        updater = bench.build_updater(bench.REPO / "examples" / "demo-update",
                                      self.wine.dir / "hoshifuru-update.exe")
        old = self.wine.dir / "old"
        old.mkdir()
        (old / "hoshifuru.exe").write_bytes(b"Ver1.01")
        code, lines = try_updater.try_updater(
            self.wine, updater, old, GAME,
            ["HKLM\\" + KEY + "IsInst=1", "HKLM\\" + KEY + "InstTo=" + GAME,
             "HKCU\\" + KEY + "Version=101"], say=lambda text: None)
        self.assertEqual(code, 0)
        for line in ("updated hoshifuru.exe", "added   おまけ/予告.txt",
                     "ini     hoshifuru.ini: Path=" + GAME,
                     "reg     HKEY_CURRENT_USER\\" + KEY + "InstallDir = " + GAME):
            self.assertIn(line, lines)
        self.assertNotIn("added   install.env", lines)  # deleted after the copy
