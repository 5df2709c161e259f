"""Hardening of the shipped dist/launcher.exe: the header flags and section
rights that Windows' own tooling expects, and stack protection that is
really in the shipped code."""
import bisect
import os
import pathlib
import re
import shutil
import subprocess

import pefile
import pytest

REPO = pathlib.Path(__file__).resolve().parents[2]

DYNAMIC_BASE = 0x0040
NX_COMPAT = 0x0100
NO_SEH = 0x0400
TERMINAL_SERVER_AWARE = 0x8000
RELOCS_STRIPPED = 0x0001
IMAGE_REL_BASED_HIGHLOW = 3


@pytest.fixture(scope="session")
def link_map(dist):
    """The link map of the build that dist/ was installed from, and that build's executable."""
    build = pathlib.Path(os.environ.get("LAUNCHER_PRODUCT_BUILD", REPO / "build" / "release"))
    map_path = build / "launcher.exe.map"
    if not map_path.exists():
        pytest.fail(f"{map_path} is missing: build the product first (scripts/test.sh does)")
    # The map describes dist/launcher.exe only if that is the file the same
    # link wrote (installing strips nothing more).
    assert (build / "launcher.exe").read_bytes() == (dist / "launcher.exe").read_bytes(), \
        "dist/launcher.exe does not come from the build whose map is read"
    text = map_path.read_text(errors="replace")
    return text[text.index("Linker script and memory map"):]


def code_sections(link_map):
    """(start, size, object) of every input code section in the map, sorted."""
    sections = []
    for match in re.finditer(r"^ (\.text\S*)\s+0x([0-9a-f]+)\s+0x([0-9a-f]+) (.+)$", link_map, re.M):
        start, size = int(match.group(2), 16), int(match.group(3), 16)
        if size:
            sections.append((start, size, match.group(4).strip()))
    return sorted(sections)


def symbol_address(link_map, name):
    match = re.search(r"^\s+0x([0-9a-f]+)\s+" + re.escape(name) + r"$", link_map, re.M)
    assert match, f"{name} is not in the link map"
    return int(match.group(1), 16)


def call_sites(executable, target):
    objdump = shutil.which("i686-w64-mingw32-objdump")
    assert objdump, "i686-w64-mingw32-objdump is needed to read the shipped code"
    listing = subprocess.run([objdump, "-d", "--no-show-raw-insn", str(executable)],
                             check=True, capture_output=True, text=True).stdout
    return [int(m.group(1), 16)
            for m in re.finditer(r"^\s*([0-9a-f]+):\s+call\s+0x([0-9a-f]+)\s*$", listing, re.M)
            if int(m.group(2), 16) == target]


def test_header_flags(launcher_pe):
    characteristics = launcher_pe.OPTIONAL_HEADER.DllCharacteristics
    for name, flag in (("DYNAMIC_BASE", DYNAMIC_BASE), ("NX_COMPAT", NX_COMPAT),
                       ("TERMINAL_SERVER_AWARE", TERMINAL_SERVER_AWARE),
                       # No frame-based exception handler is ever registered:
                       # C++ exceptions unwind with DWARF tables.
                       ("NO_SEH", NO_SEH)):
        assert characteristics & flag, name


def test_relocations_let_the_image_move(launcher_pe):
    assert not launcher_pe.FILE_HEADER.Characteristics & RELOCS_STRIPPED
    launcher_pe.parse_data_directories(
        directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]])
    entries = [entry for block in launcher_pe.DIRECTORY_ENTRY_BASERELOC for entry in block.entries
               if entry.type == IMAGE_REL_BASED_HIGHLOW]
    assert len(entries) > 100, len(entries)
    text = next(s for s in launcher_pe.sections if s.Name.rstrip(b"\0") == b".text")
    assert any(text.contains_rva(entry.rva) for entry in entries), "code is relocated too"


def test_no_section_is_writable_and_executable_or_shared_and_writable(launcher_pe):
    for section in launcher_pe.sections:
        name = section.Name.rstrip(b"\0").decode()
        writable = section.IMAGE_SCN_MEM_WRITE
        assert not (writable and section.IMAGE_SCN_MEM_EXECUTE), name
        assert not (writable and section.IMAGE_SCN_MEM_SHARED), name


def test_os_and_subsystem_version_are_vista(launcher_pe):
    header = launcher_pe.OPTIONAL_HEADER
    assert (header.MajorOperatingSystemVersion, header.MinorOperatingSystemVersion) == (6, 0)
    assert (header.MajorSubsystemVersion, header.MinorSubsystemVersion) == (6, 0)


def test_stack_protector_checks_are_in_the_shipped_code(dist, link_map):
    # The guard and the failure handler are the launcher's own (the support
    # library's set-up would load a crypto provider before wWinMain) ...
    assert not re.search(r"libssp\.a\(ssp\.o\)", link_map), "libssp's guard set-up linked in"
    check_failed = symbol_address(link_map, "__stack_chk_fail")
    guard = symbol_address(link_map, "__stack_chk_guard")
    owners = {owner for start, size, owner in code_sections(link_map) if start <= check_failed < start + size}
    assert any("stack_guard" in owner for owner in owners), owners
    assert guard
    # ... and the launcher's and the framework's own functions call it.
    sections = code_sections(link_map)
    starts = [start for start, _, _ in sections]
    callers = set()
    for site in call_sites(dist / "launcher.exe", check_failed):
        index = bisect.bisect_right(starts, site) - 1
        start, size, owner = sections[index]
        assert start <= site < start + size, hex(site)
        callers.add(owner)
    assert any(owner.startswith("libtarn.a(") for owner in callers), callers
    assert any(owner.startswith("liblauncher_core.a(") for owner in callers), callers


def test_dll_search_is_restricted_before_any_other_constructor_runs(link_map):
    # The runtime calls the constructor list from its end to its start; the
    # linker sorts prioritised entries by name, so the most urgent ones come
    # last. Only crtend.o's frame registration (which loads nothing) may run
    # before the restriction: the stack guard's set-up asks the system for
    # random bytes, which may load a library.
    listing = link_map[link_map.index("__CTOR_LIST__ = ."):link_map.index("__DTOR_LIST__ = .")]
    entries = re.findall(r"^ (\.ctors\S*)\s+0x[0-9a-f]+\s+0x([0-9a-f]+) (.+)$", listing, re.M)
    in_call_order = [owner.strip() for _, size, owner in reversed(entries)
                     if int(size, 16) and not owner.strip().endswith("crtend.o")]
    assert in_call_order and in_call_order[0].endswith("(main.cpp.obj)"), in_call_order
