"""Checks of the shipped Windows Installer sample: the custom-action DLL and
the sources beside it."""
import pefile
import pytest

from conftest import REPO

# System DLLs only; msi.dll is already loaded in the process that hosts custom actions.
ALLOWED_IMPORTS = {"kernel32.dll", "advapi32.dll", "user32.dll", "msvcrt.dll", "msi.dll"}


@pytest.fixture(scope="module")
def custom_action_pe(dist):
    pe = pefile.PE(str(dist / "samples" / "msi" / "run_as_administrator.dll"))
    yield pe
    pe.close()


def test_is_a_32_bit_dll(custom_action_pe):
    assert custom_action_pe.FILE_HEADER.Machine == pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"]
    assert custom_action_pe.FILE_HEADER.Characteristics & pefile.IMAGE_CHARACTERISTICS["IMAGE_FILE_DLL"]


def test_imports_only_system_dlls(custom_action_pe):
    imported = {entry.dll.decode().lower() for entry in custom_action_pe.DIRECTORY_ENTRY_IMPORT}
    assert imported <= ALLOWED_IMPORTS, imported - ALLOWED_IMPORTS
    assert "msi.dll" in imported


def test_exports_the_action_undecorated(custom_action_pe):
    exported = [symbol.name for symbol in custom_action_pe.DIRECTORY_ENTRY_EXPORT.symbols]
    assert exported == [b"RunAsAdministrator"]


@pytest.mark.parametrize("name", ["installer.wxs", "run_as_administrator.cpp",
                                  "run_as_administrator.def"])
def test_sources_ship_as_written(dist, name):
    shipped = dist / "samples" / "msi" / name
    assert shipped.read_bytes() == (REPO / "samples" / "msi" / name).read_bytes()
