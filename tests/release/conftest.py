import os
import pathlib

import pytest

REPO = pathlib.Path(__file__).resolve().parents[2]


@pytest.fixture(scope="session")
def dist():
    path = pathlib.Path(os.environ.get("LAUNCHER_DIST", REPO / "dist"))
    if not (path / "launcher.exe").exists():
        pytest.fail(f"{path / 'launcher.exe'} is missing: build the product first (scripts/test.sh does)")
    return path


@pytest.fixture(scope="session")
def launcher_pe(dist):
    import pefile

    pe = pefile.PE(str(dist / "launcher.exe"))
    yield pe
    pe.close()
