"""The Win32 self-checks of the platform module and shell (platform_check.exe)
in a bench prefix."""
import bench


class PlatformCheckTest(bench.BenchTest):
    def test_platform_checks_pass(self):
        scratch = self.wine.drive_c / "scratch"
        # Left by killed runs: 1 goes; 2 is held by a run; 3 has a link, which
        # Wine opens only as what it points to: kept, and that too; a name of
        # another shape is no work folder.
        names = ["TempGPInstallFolder_%s" % n for n in ("000000001", "000000002", "000000003",
                                                        "0000000004")]
        for name in names:
            (scratch / "temp" / name).mkdir(parents=True)
            (scratch / "temp" / name / "install.env").write_bytes(b"x")
        (scratch / "temp" / names[2] / "link").symlink_to(scratch / "temp" / names[3] / "install.env")
        (self.wine.bench_dir / "with space").mkdir()
        echo = self.wine.install(bench.PROGRAMS / "echoargs.exe", "with space/echoargs.exe")
        program = self.wine.start(bench.PROGRAMS / "platform_check.exe",
                                  args=[self.wine.to_windows(scratch), '"%s"' % echo])
        code, report = program.wait_exit(60), program.output()  # None: still running
        self.assertEqual(code, 0, "platform_check ended with %s:\n%s" % (code, report))
        self.assertIn("0 failed", report, "the checks did not run to their end")
        self.assertEqual(sorted(p.name for p in (scratch / "temp").iterdir()), sorted(names[1:]))
        self.assertTrue((scratch / "temp" / names[3] / "install.env").exists())
        command, _ = self.wine.echoed(self.wine.bench_dir / "with space")
        self.assertEqual(command, '"%s"' % echo)
