# Shared by the demo and test commands.
repo_root=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo_root"

werror=OFF
if [ "${CI:-}" = "true" ]; then werror=ON; fi

# The shipped product: i686, into dist/.
build_product() {
    cmake --preset mingw -DLAUNCHER_WERROR=$werror >/dev/null
    cmake --build build/release -j"$(nproc)"
    rm -rf dist
    cmake --install build/release --prefix dist >/dev/null
}

# The tests run under 32-bit Wine where the machine can run 32-bit code;
# elsewhere the same sources are built for x86_64 and run under 64-bit Wine.
test_arch() {
    if /usr/lib/wine/wine --version >/dev/null 2>&1; then echo i686; else echo x86_64; fi
}

build_tests() {
    arch=$(test_arch)
    cmake --preset "tests-$arch" -DLAUNCHER_WERROR=$werror >/dev/null
    cmake --build "build/tests-$arch" -j"$(nproc)"
}
