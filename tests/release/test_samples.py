"""What dist/ holds of the integrators' samples."""

from conftest import REPO


def test_nsis_script_ships_as_written(dist):
    shipped = dist / "samples" / "nsis" / "installer.nsi"
    assert shipped.read_bytes() == (REPO / "samples" / "nsis" / "installer.nsi").read_bytes()


def test_no_built_installer_ships(dist):
    # Sources, and the one built piece an MSI author cannot make from them
    # without a Windows compiler: the custom-action DLL.
    shipped = sorted(p.relative_to(dist / "samples").as_posix()
                     for p in (dist / "samples").rglob("*") if p.is_file())
    assert shipped == ["msi/installer.wxs", "msi/run_as_administrator.cpp",
                       "msi/run_as_administrator.def", "msi/run_as_administrator.dll",
                       "nsis/installer.nsi"]
