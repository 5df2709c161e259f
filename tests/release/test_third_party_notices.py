"""THIRD-PARTY-NOTICES.txt names every toolchain file that is linked into a
shipped binary, as the link maps of the product build show them."""
import os
import pathlib
import re

from conftest import REPO

BINARY_SUFFIXES = (".exe", ".dll")


def product_build():
    return pathlib.Path(os.environ.get("LAUNCHER_PRODUCT_BUILD", REPO / "build" / "release"))


def shipped_binaries(dist):
    return sorted(p for p in dist.rglob("*") if p.suffix.lower() in BINARY_SUFFIXES
                  and p.relative_to(dist).parts[0] != "release")


def link_map_of(shipped, build):
    """The map that the build wrote beside the file it installed as `shipped`."""
    for built in build.rglob(shipped.name):
        if "CMakeFiles" not in built.parts and built.read_bytes() == shipped.read_bytes():
            return built.with_name(built.name + ".map")
    return None


def linked_toolchain_files(link_map):
    """Archives that gave members to the link, and whole objects loaded,
    that come from outside the build tree (absolute paths)."""
    text = link_map.read_text(errors="replace")
    members = text[text.index("Archive member included"):text.index("Memory Configuration")]
    archives = {pathlib.PurePath(m) for m in re.findall(r"^(/[^\s(]+\.a)\(", members, re.M)}
    objects = {pathlib.PurePath(m) for m in re.findall(r"^LOAD (/\S+\.o)$", text, re.M)}
    return {path.name for path in archives | objects}


def test_every_linked_toolchain_file_is_in_the_notices(dist):
    build = product_build()
    notices = (REPO / "THIRD-PARTY-NOTICES.txt").read_text()
    binaries = shipped_binaries(dist)
    assert any(b.name == "launcher.exe" for b in binaries)
    unlisted = {}
    for binary in binaries:
        link_map = link_map_of(binary, build)
        assert link_map and link_map.exists(), \
            f"no link map in {build} for {binary.relative_to(dist)}: build the product first"
        linked = linked_toolchain_files(link_map)
        assert linked, f"{link_map} names no toolchain file"
        missing = sorted(name for name in linked
                         if not re.search(r"(?<![\w.+-])" + re.escape(name) + r"(?![\w+-])", notices))
        if missing:
            unlisted[binary.relative_to(dist).as_posix()] = missing
    assert not unlisted, f"linked in but not in THIRD-PARTY-NOTICES.txt: {unlisted}"
