# Sourced by the Windows build's scripts.

# A value from a build folder's CMake cache: cache_value BUILD_DIR NAME
cache_value() { sed -n "s/^$2:[A-Z]*=//p" "$1/CMakeCache.txt"; }

# The folders the programs' DLLs come from, one a line: the Qt prefix's bin/ and the MinGW-w64
# runtime's (gcc's, and mingw-w64's own for libwinpthread).
dll_dirs() {
    echo "$1/bin"
    local dll
    for dll in libstdc++-6.dll libwinpthread-1.dll; do
        dirname "$(realpath "$(x86_64-w64-mingw32-g++-posix -print-file-name="$dll")")"
    done
}
