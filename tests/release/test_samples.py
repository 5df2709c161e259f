"""What dist/ holds of the integrators' samples."""

from conftest import REPO


def test_nsis_script_ships_as_written(dist):
    shipped = dist / "samples" / "nsis" / "installer.nsi"
    assert shipped.read_bytes() == (REPO / "samples" / "nsis" / "installer.nsi").read_bytes()


def test_no_built_installer_ships(dist):
    assert [p.name for p in (dist / "samples").rglob("*") if p.is_file()] == ["installer.nsi"]
