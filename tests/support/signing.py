"""A throw-away Authenticode root and signer, made with openssl at test time, and scripts/sign.

    certificates = signing.TestCertificates(directory)
    result = signing.sign(unsigned, signed, certificates)
"""

import os
import subprocess

HERE = os.path.dirname(os.path.abspath(__file__))
SIGN = os.path.join(HERE, "..", "..", "scripts", "sign")

_LEAF_EXTENSIONS = "basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n"


def _openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


class TestCertificates:
    """A root (root.pem) and a code-signing leaf that it issued, in a PKCS#12 file with its key
    and the chain (signer.p12, protected by password), valid for two days."""

    def __init__(self, directory, name="Tessmoor Test", password="test password"):
        os.makedirs(directory, exist_ok=True)
        self.dir = directory
        self.password = password
        self.root = os.path.join(directory, "root.pem")
        self.pkcs12 = os.path.join(directory, "signer.p12")
        _openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "root.key", "-out", "root.pem",
                 "-days", "2", "-subj", f"/CN={name} Root",
                 "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign",
                 cwd=directory)
        _openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "signer.key", "-out", "signer.csr",
                 "-subj", f"/CN={name} Signer", cwd=directory)
        with open(os.path.join(directory, "signer.ext"), "w") as f:
            f.write(_LEAF_EXTENSIONS)
        _openssl("x509", "-req", "-in", "signer.csr", "-CA", "root.pem", "-CAkey", "root.key", "-CAcreateserial",
                 "-days", "2", "-extfile", "signer.ext", "-out", "signer.pem", cwd=directory)
        _openssl("pkcs12", "-export", "-inkey", "signer.key", "-in", "signer.pem", "-certfile", "root.pem",
                 "-out", "signer.p12", "-passout", f"pass:{password}", cwd=directory)

    def path(self, name):
        return os.path.join(self.dir, name)

    def environment(self, **overrides):
        """The environment scripts/sign reads, for these certificates; a None value removes a variable."""
        env = dict(os.environ, TESSMOOR_SIGN_PKCS12=self.pkcs12, TESSMOOR_SIGN_PASSWORD=self.password)
        env.pop("TESSMOOR_SIGN_TIMESTAMP_URL", None)
        for name, value in overrides.items():
            if value is None:
                env.pop(name, None)
            else:
                env[name] = value
        return env


def sign(unsigned, signed, certificates, **overrides):
    """Runs scripts/sign; returns the CompletedProcess (text output)."""
    return subprocess.run([SIGN, unsigned, signed], env=certificates.environment(**overrides), capture_output=True,
                          text=True, timeout=120)


def verify(path, root):
    """osslsigncode's verdict on path's signature, trusting only root: the CompletedProcess."""
    return subprocess.run(["osslsigncode", "verify", "-CAfile", root, "-in", path], capture_output=True, text=True,
                          timeout=120)
