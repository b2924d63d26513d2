# Sourced by test.sh and bench_build.sh (with $root set): chooses what the Wine bench
# runs. Where the host can execute 32-bit code, the shipped 32-bit programs;
# where it cannot (the kernel refuses i386 programs, and Wine's 32-bit loader
# with them), the 64-bit builds of the same sources, run by Wine's 64-bit
# loader. Emulating the 32-bit loader instead was tried: Wine does not start.
# VN_WINE_ARCH, VN_UPDATER and VN_BUILD already set are kept as they are.
if [ -z "${VN_WINE_ARCH:-}" ]; then
  if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    VN_WINE_ARCH=win32
  else
    VN_WINE_ARCH=win64
    echo "wine bench: this host cannot execute 32-bit code; the bench runs the 64-bit builds" >&2
  fi
fi
if [ "$VN_WINE_ARCH" = win32 ]; then
  export VN_UPDATER="${VN_UPDATER:-$root/dist/vnupdate.exe}" VN_BUILD="${VN_BUILD:-$root/build/win32}"
else
  export VN_UPDATER="${VN_UPDATER:-$root/build/win64/dist/vnupdate.exe}" VN_BUILD="${VN_BUILD:-$root/build/win64}"
fi
export VN_WINE_ARCH
