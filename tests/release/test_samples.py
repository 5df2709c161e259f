"""What dist/ holds of the integrators' samples."""

import pytest

from conftest import REPO


@pytest.mark.parametrize("sample", ["nsis/installer.nsi", "sample_caller/sample_caller.cpp"])
def test_sample_source_ships_as_written(dist, sample):
    assert (dist / "samples" / sample).read_bytes() == (REPO / "samples" / sample).read_bytes()


def test_no_built_installer_ships(dist):
    built = [p.name for p in (dist / "samples").rglob("*") if p.suffix.lower() in (".exe", ".msi")]
    assert built == []
