#!/usr/bin/env python3
"""vnpack build with one job and with all cores, and the archive size against
gzip -9 of the same files.

Usage: pack_bench.py --vnpack PATH [--mib N] [--folder DIR]   (default 256 MiB in /dev/shm)
"""
import argparse
import os
import random
import shutil
import subprocess
import sys
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

WORDS = [b"scene ", b"message ", b"voice_0123 ", b"bgm ", b"\r\n", b"character ", b"wait 100 "]


def make_folder(root, mib):
    """A mixed update: many small text-like files, a few large ones, a third random."""
    rng = random.Random(7)
    os.makedirs(os.path.join(root, "data", "sub"))
    with open(os.path.join(root, "install.env"), "wb") as f:
        f.write(b"TITLEBAR\tbench\r\n")
    shutil.copy(os.path.join(REPO, "examples", "demo-update", "insttscr.rct"), root)
    target, written, index = mib << 20, 0, 0
    while written < target:
        size = rng.randint(4096, 256 * 1024) if written < target * 7 // 10 else min(32 << 20, target - written)
        if index % 3 == 2:
            data = rng.randbytes(size)
        else:
            data = b"".join(rng.choice(WORDS) for _ in range(size // 6 + 1))[:size]
        folder = "data" if index % 2 else os.path.join("data", "sub")
        with open(os.path.join(root, folder, "file%05d.bin" % index), "wb") as f:
            f.write(data)
        written += size
        index += 1
    return written


def timed(command):
    start = time.monotonic()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.monotonic() - start


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--vnpack", required=True)
    parser.add_argument("--mib", type=int, default=256)
    parser.add_argument("--folder", default="/dev/shm")
    args = parser.parse_args()
    work = os.path.join(args.folder, "vnbench_pack_%d" % os.getpid())
    source = os.path.join(work, "update")
    stub = os.path.join(work, "stub.exe")
    try:
        os.makedirs(work)
        total = make_folder(source, args.mib)
        with open(stub, "wb") as f:
            f.write(b"MZ" + bytes(1022))
        build = [args.vnpack, "build", source, "--stub", stub, "-o"]
        one = timed(build + [os.path.join(work, "one.exe"), "--jobs", "1"])
        cores = os.cpu_count() or 1
        all_cores = timed(build + [os.path.join(work, "all.exe"), "--jobs", str(cores)])
        archive = os.path.getsize(os.path.join(work, "all.exe")) - 1024 - 4
        gzip_total = 0
        for folder, _, files in os.walk(source):
            for name in files:
                with open(os.path.join(folder, name), "rb") as f:
                    gzip_total += len(subprocess.run(["gzip", "-9", "-c"], stdin=f, check=True,
                                                     stdout=subprocess.PIPE).stdout)
        mb = total / 1e6
        print("vnpack build of %d MiB: 1 job %.1f s (%.0f MB/s), %d jobs %.1f s (%.0f MB/s), "
              "speed-up %.2f" % (args.mib, one, mb / one, cores, all_cores, mb / all_cores,
                                 one / all_cores))
        print("archive %d bytes, gzip -9 of the same files %d bytes, ratio %.3f" %
              (archive, gzip_total, archive / gzip_total))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
