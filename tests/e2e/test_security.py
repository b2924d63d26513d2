"""The updater under an elevated start from a download folder: DLLs planted
beside it are never loaded, a link in the game folder is never written
through, and an updater signed after it was built still updates, its
signature covering the payload."""
import os
import subprocess

import bench
from bench import DAMAGED_PAYLOAD, EXIT_FAILURE, IDOK, IDYES, TEXT_ID

# DLLs that the shell, the common controls and COM load on demand, and the
# one the first updaters imported for their clock.
PLANTED = ["winmm", "version", "uxtheme", "dwmapi", "cryptbase", "userenv", "propsys", "profapi"]
TITLE = "安全 試験"
PICTURE = bench.REPO / "examples" / "demo-update" / "insttscr.rct"


class UpdateTest(bench.BenchTest):
    def make_update(self):
        """An update folder for a game found by its key file in the default
        folder, and that game folder with its old file."""
        self.game = self.wine.drive_c / "Program Files" / "Game"
        self.game.mkdir(parents=True)
        (self.game / "game.exe").write_bytes(b"old")
        folder = self.wine.dir / "update"
        folder.mkdir()
        settings = "TITLEBAR\t%s\r\nINSTTO\tGame\r\nKEYFILE\tgame.exe\r\n[EOF]\r\n"
        (folder / "install.env").write_bytes((settings % TITLE.replace(" ", "|")).encode("cp932"))
        (folder / "insttscr.rct").write_bytes(PICTURE.read_bytes())
        (folder / "game.exe").write_bytes(b"new")
        return folder

    def update(self, updater, ends=(("インストール終了", IDOK),), exit_code=0, new=b"new",
               meanwhile=None):
        """Runs the updater through start-up, the question, the copy and the
        windows of ends (meanwhile is called once the start-up window shows);
        the game file holds new afterwards."""
        program = self.wine.start(updater)
        window = self.wine.wait_window(pid=program.pid, title=TITLE + " アップデータ")
        self.assertIsNotNone(window, "no start-up window")
        if meanwhile:
            meanwhile()
        update = [i for i, c in self.wine.controls(window["hwnd"]).items()
                  if c["text"] == "アップデート"]
        self.wine.click(window["hwnd"], update[0])

        def box(text):
            for candidate in self.wine.windows(pid=program.pid, cls="#32770", visible=1):
                controls = self.wine.controls(candidate["hwnd"]) or {}
                if candidate["hwnd"] != window["hwnd"] and text in (
                        candidate["title"], controls.get(TEXT_ID, {}).get("text")):
                    return candidate
        for text, answer in (("[C:\\Program Files\\Game]をアップデートします", IDYES),) + ends:
            bench.wait_for(lambda: box(text), 30, "no window saying " + text)
            self.wine.click(box(text)["hwnd"], answer)
        self.assertEqual(program.wait_exit(), exit_code)
        self.assertEqual((self.game / "game.exe").read_bytes(), new)


class PlantedDllTest(UpdateTest):
    # Native first, as Windows searches: beside the executable before the
    # system folder.
    dll_overrides = ",".join(PLANTED) + "=n,b"

    def test_no_planted_dll_is_loaded_through_start_up_and_copy(self):
        for name in PLANTED:
            self.wine.install(bench.PROGRAMS / "planted.dll", name + ".dll")
        self.update(bench.build_updater(self.make_update(), self.wine.dir / "u.exe"))
        self.assertEqual(sorted(p.name for p in self.wine.bench_dir.glob("*.loaded")), [])


class LinkInGameFolderTest(UpdateTest):
    def test_a_folder_linked_elsewhere_is_not_written_through(self):
        folder = self.make_update()
        (folder / "data").mkdir()
        (folder / "data" / "x.dat").write_bytes(b"new data")
        elsewhere = self.wine.drive_c / "elsewhere"
        elsewhere.mkdir()
        (elsewhere / "x.dat").write_bytes(b"someone else's")
        os.symlink(elsewhere, self.game / "data")  # Wine shows it as a reparse point
        self.update(bench.build_updater(folder, self.wine.dir / "u.exe"),
                    ((DAMAGED_PAYLOAD, IDOK),), EXIT_FAILURE, b"old")
        self.assertEqual([(p.name, p.read_bytes()) for p in elsewhere.iterdir()],
                         [("x.dat", b"someone else's")])
        self.assertEqual(sorted(p.name for p in self.game.iterdir()), ["data", "game.exe"])


class FaultTest(UpdateTest):
    """Each ends in the updater's own message with the game folder as it was."""

    def test_read_only_game_file_and_updater_changed_after_start_up(self):
        built = bench.build_updater(self.make_update(), self.wine.dir / "u.exe")
        before = (self.game / "game.exe").stat()

        def grow():  # the copy checks the file again before it stages anything
            with open(self.wine.bench_dir / "changed.exe", "ab") as updater:
                updater.write(bytes(1000))
        for name, read_only, meanwhile in (("read-only.exe", True, None),
                                           ("changed.exe", False, grow)):
            with self.subTest(name):
                (self.game / "game.exe").chmod(0o444 if read_only else 0o644)
                self.update(self.wine.install(built, name), ((DAMAGED_PAYLOAD, IDOK),),
                            EXIT_FAILURE, b"old", meanwhile)
                self.assertEqual([p.name for p in self.game.iterdir()], ["game.exe"])
                self.assertEqual((self.game / "game.exe").stat().st_mtime_ns, before.st_mtime_ns)


class SignedUpdaterTest(UpdateTest):
    def test_a_signed_updater_updates_and_its_signature_covers_the_payload(self):
        built = bench.build_updater(self.make_update(), self.wine.dir / "u.exe")
        key, certificate, signed = (self.wine.dir / n for n in ("key.pem", "cert.pem", "s.exe"))

        def run(*args):
            return subprocess.run([str(a) for a in args], capture_output=True, text=True,
                                  stdin=subprocess.DEVNULL, timeout=120)
        made = run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                   "-subj", "/CN=vnupdate test maker", "-keyout", key, "-out", certificate)
        self.assertEqual(made.returncode, 0, made.stderr)
        done = run("osslsigncode", "sign", "-certs", certificate, "-key", key, "-n", TITLE,
                   "-in", built, "-out", signed)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertEqual(signed.stat().st_size % 8, 0)
        self.assertEqual(run("osslsigncode", "verify", "-CAfile", certificate, signed).returncode,
                         0)
        for command in ("list", "test"):
            self.assertEqual(bench.vnpack(command, signed).returncode, 0, command)
        self.update(signed)

        # One byte of the payload changed after signing: the signature fails.
        damaged = bytearray(signed.read_bytes())
        damaged[built.stat().st_size - 100] ^= 0x01
        (self.wine.dir / "d.exe").write_bytes(bytes(damaged))
        self.assertNotEqual(run("osslsigncode", "verify", "-CAfile", certificate,
                                self.wine.dir / "d.exe").returncode, 0)
