"""What dist/ holds of the integrators' samples."""

import pytest

from conftest import REPO

SAMPLE_SOURCES = ["nsis/installer.nsi", "nsis/launcher.nsh", "inno/installer.iss",
                  "inno/launcher.iss", "sample_caller/sample_caller.cpp",
                  "msi/installer.wxs", "msi/run_as_administrator.cpp",
                  "msi/run_as_administrator.def"]
# The one built piece an MSI author cannot make from the sources without a
# Windows compiler: the custom-action DLL.
BUILT_CUSTOM_ACTION = "msi/run_as_administrator.dll"


@pytest.mark.parametrize("name", SAMPLE_SOURCES)
def test_sample_source_ships_as_written(dist, name):
    shipped = dist / "samples" / name
    assert shipped.read_bytes() == (REPO / "samples" / name).read_bytes()


def test_no_built_installer_ships(dist):
    shipped = sorted(p.relative_to(dist / "samples").as_posix()
                     for p in (dist / "samples").rglob("*") if p.is_file())
    assert shipped == sorted(SAMPLE_SOURCES + [BUILT_CUSTOM_ACTION])
