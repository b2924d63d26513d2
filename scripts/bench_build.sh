# Sourced by demo.sh and try.sh (with $root set and the current folder the
# repository): installs what is missing, builds the Windows programs and the
# native vnpack, and chooses the bench's builds (wine_bench.sh).
scripts/install-deps.sh
cmake --preset win32 >/dev/null && cmake --build --preset win32 -j2
cmake --preset native -DVN_STUB_EXE="$root/dist/vnupdate.exe" >/dev/null
cmake --build --preset native -j2
. scripts/wine_bench.sh
if [ "$VN_WINE_ARCH" = win64 ]; then
  cmake --preset win64 >/dev/null && cmake --build --preset win64 -j2
fi
