"""A throwaway code-signing certificate made at test time, and scripts/sign.sh
and osslsigncode driven with it. Nothing here is kept after the test run."""

import os
import subprocess
from dataclasses import dataclass
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
SIGN_SCRIPT = REPO / "scripts" / "sign.sh"
PASSWORD = "throwaway-Pw-7391"


@dataclass
class Certificate:
    cert: Path  # PEM certificate
    key: Path  # PEM private key, protected with PASSWORD
    pfx: Path  # both in PKCS#12, protected with PASSWORD
    pass_file: Path


def make_throwaway_certificate(folder):
    """A self-signed certificate valid for code signing, in `folder`."""
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    made = Certificate(folder / "cert.pem", folder / "key.pem", folder / "cert.pfx",
                       folder / "password.txt")
    made.pass_file.write_text(PASSWORD + "\n")
    env = dict(os.environ, THROWAWAY_PASSWORD=PASSWORD)
    for command in (
            ["openssl", "req", "-x509", "-newkey", "rsa:2048", "-sha256", "-days", "2",
             "-subj", "/CN=Throwaway test code signing",
             "-addext", "keyUsage=critical,digitalSignature",
             "-addext", "extendedKeyUsage=codeSigning",
             "-keyout", str(made.key), "-out", str(made.cert),
             "-passout", "env:THROWAWAY_PASSWORD"],
            ["openssl", "pkcs12", "-export", "-inkey", str(made.key), "-in", str(made.cert),
             "-passin", "env:THROWAWAY_PASSWORD", "-passout", "env:THROWAWAY_PASSWORD",
             "-out", str(made.pfx)]):
        result = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True,
                                text=True, env=env, timeout=120)
        assert result.returncode == 0, result.stderr
    return made


def run_sign(*args, env=None):
    return subprocess.run(["sh", str(SIGN_SCRIPT), *map(str, args)], stdin=subprocess.DEVNULL,
                          capture_output=True, text=True, env=env, timeout=120)


def sign_with_pfx(certificate, input_file, output_file):
    result = run_sign("--pfx", certificate.pfx, "--pass-file", certificate.pass_file,
                      input_file, output_file)
    assert result.returncode == 0, result.stderr
    return output_file


def verify(signed_file, certificate):
    """osslsigncode's verification of `signed_file` against the certificate."""
    return subprocess.run(
        ["osslsigncode", "verify", "-CAfile", str(certificate.cert), "-in", str(signed_file)],
        stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=120)
