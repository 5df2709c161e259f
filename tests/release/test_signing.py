"""scripts/sign.sh: Authenticode signatures that verify, break when the file
changes, and leave the executable as it was; keys and passwords stay in
their files."""

import os
import shutil
import stat

import pefile
import pytest

import test_executable as executable_checks
from code_signing import (PASSWORD, make_throwaway_certificate, run_sign, sign_with_pfx,
                          verify)


@pytest.fixture(scope="module")
def certificate(tmp_path_factory):
    return make_throwaway_certificate(tmp_path_factory.mktemp("certificate"))


@pytest.fixture(scope="module")
def signed_launcher(dist, certificate, tmp_path_factory):
    return sign_with_pfx(certificate, dist / "launcher.exe",
                         tmp_path_factory.mktemp("signed") / "launcher.exe")


@pytest.fixture
def copy_of_launcher(dist, tmp_path):
    copy = tmp_path / "launcher.exe"
    shutil.copyfile(dist / "launcher.exe", copy)
    return copy


def test_pfx_signature_verifies_with_sha256(signed_launcher, certificate):
    result = verify(signed_launcher, certificate)
    assert result.returncode == 0, result.stdout + result.stderr
    assert "Message digest algorithm  : SHA256" in result.stdout, result.stdout
    assert "Signature verification: ok" in result.stdout


def test_certificate_and_key_signature_verifies(dist, certificate, tmp_path):
    signed = tmp_path / "signed.exe"
    result = run_sign("--cert", certificate.cert, "--key", certificate.key, "--pass-file",
                      certificate.pass_file, dist / "launcher.exe", signed)
    assert result.returncode == 0, result.stderr
    assert verify(signed, certificate).returncode == 0


def test_changed_byte_fails_verification(signed_launcher, certificate, tmp_path):
    changed = tmp_path / "changed.exe"
    data = bytearray(signed_launcher.read_bytes())
    pe = pefile.PE(data=bytes(data), fast_load=True)
    code = pe.sections[0].PointerToRawData + 0x100
    pe.close()
    data[code] ^= 0xFF
    changed.write_bytes(data)
    result = verify(changed, certificate)
    assert result.returncode != 0, result.stdout
    assert "MISMATCH" in result.stdout, result.stdout


PE_CHECKS = [executable_checks.test_is_a_32_bit_gui_executable,
             executable_checks.test_has_aslr_and_dep,
             executable_checks.test_imports_only_known_system_dlls,
             executable_checks.test_manifest_says_what_the_launcher_needs,
             executable_checks.test_manifest_declares_dpi_awareness,
             executable_checks.test_has_icon_and_version_block,
             executable_checks.test_has_no_debug_information]


@pytest.mark.parametrize("check", PE_CHECKS, ids=[c.__name__[5:] for c in PE_CHECKS])
def test_signed_file_passes_the_executable_checks(signed_launcher, check):
    pe = pefile.PE(str(signed_launcher))
    try:
        assert pe.OPTIONAL_HEADER.DATA_DIRECTORY[4].Size > 0, "no certificate table"
        check(pe)
    finally:
        pe.close()


def test_refuses_to_overwrite_the_input(copy_of_launcher, certificate, tmp_path):
    before = copy_of_launcher.read_bytes()
    link = tmp_path / "link.exe"
    link.symlink_to(copy_of_launcher)
    hard_link = tmp_path / "hard-link.exe"
    os.link(copy_of_launcher, hard_link)
    for output in (copy_of_launcher, link, hard_link, f"{tmp_path}/./launcher.exe"):
        result = run_sign("--pfx", certificate.pfx, "--pass-file", certificate.pass_file,
                          copy_of_launcher, output)
        assert result.returncode == 1, result.stderr
        assert "OUTPUT is INPUT" in result.stderr
    assert copy_of_launcher.read_bytes() == before
    assert sorted(p.name for p in tmp_path.iterdir()) == ["hard-link.exe", "launcher.exe",
                                                          "link.exe"]


@pytest.mark.parametrize("args, message", [
    ([], "INPUT and OUTPUT are needed"),
    (["in.exe", "out.exe"], "--pfx, or --cert with --key, is needed"),
    (["--cert", "c.pem", "in.exe", "out.exe"], "--pfx, or --cert with --key, is needed"),
    (["--pfx", "a.pfx", "--key", "k.pem", "in.exe", "out.exe"], "either --pfx or --cert"),
    (["--pfx"], "--pfx needs a value"),
    (["--pfx", "a.pfx", "--password", "x", "in.exe", "out.exe"], "unknown option --password"),
    (["--pfx", "a.pfx", "in.exe", "out.exe", "extra"], "INPUT and OUTPUT are needed"),
])
def test_bad_usage_is_refused(tmp_path, args, message):
    result = run_sign(*args)
    assert result.returncode == 2
    assert message in result.stderr
    assert "usage:" in result.stderr


def test_unreadable_files_are_named(copy_of_launcher, certificate, tmp_path):
    result = run_sign("--pfx", tmp_path / "missing.pfx", copy_of_launcher, tmp_path / "out.exe")
    assert result.returncode == 1
    assert f"cannot read {tmp_path / 'missing.pfx'}" in result.stderr
    assert not (tmp_path / "out.exe").exists()


def test_wrong_password_leaves_no_output(copy_of_launcher, certificate, tmp_path):
    wrong = tmp_path / "wrong.txt"
    wrong.write_text("not the password\n")
    result = run_sign("--pfx", certificate.pfx, "--pass-file", wrong, copy_of_launcher,
                      tmp_path / "out.exe")
    assert result.returncode == 1
    assert "signing" in result.stderr and "failed" in result.stderr
    assert sorted(p.name for p in tmp_path.iterdir()) == ["launcher.exe", "wrong.txt"]


def test_password_stays_off_command_lines(copy_of_launcher, certificate, tmp_path):
    """osslsigncode gets the password file's name, never the password; the
    time-stamping server is passed on as RFC 3161."""
    shim_dir = tmp_path / "shim"
    shim_dir.mkdir()
    arguments_log = tmp_path / "arguments.txt"
    shim = shim_dir / "osslsigncode"
    shim.write_text('#!/bin/sh\nprintf "%s\\n" "$@" > "$SHIM_LOG"\n'
                    f'exec {shutil.which("osslsigncode")} "$@"\n')
    shim.chmod(shim.stat().st_mode | stat.S_IXUSR)
    env = dict(os.environ, PATH=f"{shim_dir}:{os.environ['PATH']}", SHIM_LOG=str(arguments_log))
    url = "http://127.0.0.1:9/"  # nothing listens: the signing fails after the call
    run_sign("--pfx", certificate.pfx, "--pass-file", certificate.pass_file, "--timestamp", url,
             copy_of_launcher, tmp_path / "out.exe", env=env)
    arguments = arguments_log.read_text().splitlines()
    assert ["-readpass", str(certificate.pass_file)] == arguments[
        arguments.index("-readpass"):arguments.index("-readpass") + 2]
    assert ["-ts", url] == arguments[arguments.index("-ts"):arguments.index("-ts") + 2]
    assert not any(PASSWORD in a for a in arguments)
    assert not (tmp_path / "out.exe").exists()
