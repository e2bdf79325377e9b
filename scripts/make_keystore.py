#!/usr/bin/env python3
"""Generates the certificate keystore image that libquibex hands to the host
application (JReq.getCert), and writes it as the C++ source jni/cert_bytes.cpp.

The image is a Bouncy Castle "BKS" keystore of version 1 holding a single
X.509 certificate entry: a self-signed RSA-4096 / SHA-256 certificate made
here with openssl. The private key is thrown away; only the certificate is
kept. Every run makes a new key, salt and date, so two runs give different
but equally valid images.

Layout (all integers big-endian):
  version (4) = 1, salt length (4) = 20, salt (20), iteration count (4),
  entry type (1) = 1 (certificate), alias (2 + 6, modified UTF-8),
  creation date (8, ms since 1970), chain length (4) = 0,
  certificate type (2 + 5) = "X.509", certificate length (4), DER,
  end marker (1) = 0, MAC (20).

MAC of version 1: HMAC-SHA1 over the bytes from the first entry up to and
including the end marker (the header is not covered). Its key is the
PKCS#12 key derivation with SHA-1 (ID 3, "MAC material") of the password as
a big-endian UTF-16 string with a two-byte NUL terminator, over the salt and
iteration count, cut to 20 bits, that is 2 bytes. Version 2 would take 20
bytes here; version 1 keeps the short key, so roughly one wrong password in
65,536 passes the check. The generator therefore makes sure that the wrong
password the tests use (WRONG_PASSWORD) fails against the image it writes.

Usage: scripts/make_keystore.py [output.cpp]   (default: jni/cert_bytes.cpp)
Needs python3 and the openssl command.
"""

import hashlib
import hmac
import os
import secrets
import struct
import subprocess
import sys
import tempfile
import time

PASSWORD = "quibex-trust"      # documented for the host application
WRONG_PASSWORD = "not-the-password"  # the tests' wrong password: must fail
ALIAS = "quibex"
SUBJECT_C = "DE"
SUBJECT_O = "quibex team"
SUBJECT_CN = "libquibex local filtering proxy trust anchor 2026a"
SERIAL = "0x5A17C3"            # three bytes, top bit clear
VALID_DAYS = 3650              # keeps notAfter before 2050 (UTCTime)

CERT_LENGTH = 1444
IMAGE_LENGTH = 1529

CERT_CONFIG = """\
[req]
distinguished_name = dn
x509_extensions = ext
prompt = no
[dn]
[ext]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always
"""


def make_certificate(workdir):
    """Makes the self-signed certificate with openssl; returns its DER."""
    config = os.path.join(workdir, "openssl.cnf")
    with open(config, "w", encoding="ascii") as f:
        f.write(CERT_CONFIG)
    key = os.path.join(workdir, "key.pem")
    der = os.path.join(workdir, "cert.der")
    env = dict(os.environ, OPENSSL_CONF=config)
    subprocess.run(
        ["openssl", "req", "-x509", "-new", "-newkey", "rsa:4096", "-sha256",
         "-nodes", "-keyout", key, "-outform", "DER", "-out", der,
         "-days", str(VALID_DAYS), "-set_serial", SERIAL,
         "-config", config, "-extensions", "ext",
         "-subj", "/C=%s/O=%s/CN=%s" % (SUBJECT_C, SUBJECT_O, SUBJECT_CN)],
        check=True, env=env, stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL)
    with open(der, "rb") as f:
        return f.read()


def pkcs12_password(password):
    """The password as PKCS#12 wants it: UTF-16BE plus a NUL character."""
    return password.encode("utf-16-be") + b"\0\0"


def pkcs12_kdf(password, salt, key_id, iterations, length):
    """PKCS#12 key derivation with SHA-1 (RFC 7292, appendix B.2)."""
    u, v = 20, 64

    def fill(data):
        if not data:
            return b""
        n = v * ((len(data) + v - 1) // v)
        return (data * (n // len(data) + 1))[:n]

    d = bytes([key_id]) * v
    i = bytearray(fill(salt) + fill(pkcs12_password(password)))
    out = b""
    while len(out) < length:
        a = hashlib.sha1(d + bytes(i)).digest()
        for _ in range(iterations - 1):
            a = hashlib.sha1(a).digest()
        out += a
        if len(out) >= length:
            break
        b = int.from_bytes((a * (v // u + 1))[:v], "big")
        for j in range(0, len(i), v):
            block = (int.from_bytes(i[j:j + v], "big") + b + 1) % (1 << (8 * v))
            i[j:j + v] = block.to_bytes(v, "big")
    return out[:length]


def mac_key(password, salt, iterations):
    # Version 1 asks for a key of 20 bits (the MAC size in bytes, taken as
    # bits), which the derivation rounds down to 2 bytes.
    return pkcs12_kdf(password, salt, 3, iterations, 20 // 8)


def java_utf(text):
    data = text.encode("utf-8")
    return struct.pack(">H", len(data)) + data


def build_image(cert):
    while True:
        salt = secrets.token_bytes(20)
        iterations = 1024 + secrets.randbelow(1024)
        key = mac_key(PASSWORD, salt, iterations)
        if key != mac_key(WRONG_PASSWORD, salt, iterations):
            break
    header = struct.pack(">II", 1, len(salt)) + salt + struct.pack(
        ">I", iterations)
    body = (bytes([1]) + java_utf(ALIAS) +
            struct.pack(">qI", int(time.time() * 1000), 0) +
            java_utf("X.509") + struct.pack(">I", len(cert)) + cert +
            bytes([0]))
    mac = hmac.new(key, body, hashlib.sha1).digest()
    return header + body + mac


def check_image(image):
    """Re-reads the image and recomputes its MAC with both passwords."""
    version, salt_len = struct.unpack_from(">II", image, 0)
    salt = image[8:8 + salt_len]
    (iterations,) = struct.unpack_from(">I", image, 8 + salt_len)
    body = image[12 + salt_len:-20]
    mac = image[-20:]
    assert version == 1 and salt_len == 20
    assert body[0] == 1 and body[-1] == 0
    good = hmac.new(mac_key(PASSWORD, salt, iterations), body,
                    hashlib.sha1).digest()
    bad = hmac.new(mac_key(WRONG_PASSWORD, salt, iterations), body,
                   hashlib.sha1).digest()
    assert good == mac and bad != mac


def cpp_source(image):
    rows = []
    for start in range(0, len(image), 12):
        rows.append("    " + ", ".join(
            "0x%02x" % b for b in image[start:start + 12]) + ",")
    return """\
// The certificate keystore image handed to the host application by
// JReq.getCert: a "BKS" keystore of version 1 with one X.509 certificate
// entry (alias "%s"). Generated by scripts/make_keystore.py; do not edit.
#include "jni/cert_bytes.h"

namespace quibex {

const unsigned char certBytes[] = {
%s
};

const size_t certBytesSize = sizeof(certBytes);

static_assert(sizeof(certBytes) == %d, "unexpected keystore image size");

}  // namespace quibex
""" % (ALIAS, "\n".join(rows), len(image))


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        root, "jni", "cert_bytes.cpp")
    if len(SUBJECT_CN) != 50 or len(ALIAS) != 6:
        sys.exit("make_keystore: CN must have 50 and the alias 6 characters")
    with tempfile.TemporaryDirectory() as workdir:
        cert = make_certificate(workdir)
    if len(cert) != CERT_LENGTH:
        sys.exit("make_keystore: certificate has %d bytes, expected %d"
                 % (len(cert), CERT_LENGTH))
    image = build_image(cert)
    if len(image) != IMAGE_LENGTH:
        sys.exit("make_keystore: image has %d bytes, expected %d"
                 % (len(image), IMAGE_LENGTH))
    check_image(image)
    with open(out, "w", encoding="ascii") as f:
        f.write(cpp_source(image))
    print("make_keystore: wrote %d bytes to %s" % (len(image), out))


if __name__ == "__main__":
    main()
