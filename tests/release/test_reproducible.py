"""Two clean builds of the product give bit-identical executables."""
import hashlib
import os
import pathlib
import shutil
import subprocess
import tempfile

REPO = pathlib.Path(__file__).resolve().parents[2]


def build_launcher(source, build):
    env = dict(os.environ)
    subprocess.run(["cmake", "-S", str(source), "-B", str(build),
                    "--toolchain", str(source / "cmake" / "i686-w64-mingw32.cmake"),
                    "-DCMAKE_BUILD_TYPE=Release", "-DLAUNCHER_TESTS=OFF"],
                   check=True, stdout=subprocess.DEVNULL, env=env)
    subprocess.run(["cmake", "--build", str(build), "--target", "launcher", "-j2"],
                   check=True, stdout=subprocess.DEVNULL, env=env)
    return (build / "launcher.exe").read_bytes()


def copy_sources(target):
    target.mkdir(parents=True)
    for name in ("CMakeLists.txt", "cmake", "include", "src", "res", "samples"):
        source = REPO / name
        if source.is_dir():
            shutil.copytree(source, target / name)
        else:
            shutil.copy2(source, target / name)


def test_two_clean_builds_in_different_folders_are_identical():
    with tempfile.TemporaryDirectory(prefix="repro-a-") as a, \
         tempfile.TemporaryDirectory(prefix="repro-b-other-") as b:
        a, b = pathlib.Path(a), pathlib.Path(b)
        copy_sources(a / "src-tree")
        copy_sources(b / "src-tree")
        first = build_launcher(a / "src-tree", a / "out")
        second = build_launcher(b / "src-tree", b / "out-elsewhere")
    assert hashlib.sha256(first).hexdigest() == hashlib.sha256(second).hexdigest()
    assert len(first) > 0
