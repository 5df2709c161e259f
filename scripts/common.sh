# Shared by the demo and test commands.
repo_root=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo_root"

werror=OFF
if [ "${CI:-}" = "true" ]; then werror=ON; fi

# The shipped product: i686, into dist/. dist/release holds the release
# archives that scripts/release.sh made: they outlive a rebuild.
build_product() {
    cmake --preset mingw -DLAUNCHER_WERROR=$werror >/dev/null
    cmake --build build/release -j"$(nproc)"
    if [ -d dist ]; then
        find dist -mindepth 1 -maxdepth 1 ! -name release -exec rm -rf {} +
    fi
    cmake --install build/release --prefix dist >/dev/null
}

# The tests run under 32-bit Wine where the machine can run 32-bit code;
# elsewhere the same sources are built for x86_64 and run under 64-bit Wine.
test_arch() {
    if "$repo_root/scripts/runs_32_bit_code.sh" >/dev/null; then echo i686; else echo x86_64; fi
}

build_tests() {
    arch=$(test_arch)
    cmake --preset "tests-$arch" -DLAUNCHER_WERROR=$werror >/dev/null
    cmake --build "build/tests-$arch" -j"$(nproc)"
}
