"""A launcher signed with scripts/sign.sh still runs a whole launch."""

import dataclasses
import sys
from pathlib import Path

from conftest import Launch

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "release"))

from code_signing import make_throwaway_certificate, sign_with_pfx, verify  # noqa: E402


def test_signed_launcher_runs_a_launch(wine, programs, tmp_path, session_user):
    certificate = make_throwaway_certificate(tmp_path / "certificate")
    (tmp_path / "signed").mkdir()
    signed = sign_with_pfx(certificate, programs.launcher, tmp_path / "signed" / "launcher.exe")
    assert verify(signed, certificate).returncode == 0
    launch = Launch(wine, dataclasses.replace(programs, launcher=signed), tmp_path / "run",
                    session_user)
    launch.answer_session_user()
    outcome = launch.execute_probe("two words", "x")
    assert outcome.exit_code == 0, outcome.boxes
    [child] = outcome.probe
    assert child["shell_tokens"][1:] == ["two words", "x"]
    [logon] = outcome.logons
    assert logon["outcome"] == "started"
