#!/usr/bin/env python3
"""Makes the certificates of the TLS tests: a certificate authority of our own and a server
certificate, either signed by it or self-signed.

Writes <out>/ca.pem (the authority's certificate: what a client must trust) and
<out>/server.pem (the server's certificate, its issuer's and its private key, as the test
server reads them). The server certificate names every --name, as DNS names or addresses.
"""
import argparse
import datetime
import ipaddress
import os

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.x509.oid import NameOID


def make_name(common_name):
    return x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, common_name),
                      x509.NameAttribute(NameOID.ORGANIZATION_NAME, "ZUL-FTP tests")])


def alt_names(names):
    result = []
    for name in names:
        try:
            result.append(x509.IPAddress(ipaddress.ip_address(name)))
        except ValueError:
            result.append(x509.DNSName(name))
    return result


def certificate(subject, issuer, public_key, signing_key, names, is_ca):
    now = datetime.datetime.now(datetime.timezone.utc)
    builder = (x509.CertificateBuilder()
               .subject_name(subject).issuer_name(issuer).public_key(public_key)
               .serial_number(x509.random_serial_number())
               .not_valid_before(now - datetime.timedelta(days=1))
               .not_valid_after(now + datetime.timedelta(days=30))
               .add_extension(x509.BasicConstraints(ca=is_ca, path_length=None), critical=True))
    if names:
        builder = builder.add_extension(x509.SubjectAlternativeName(alt_names(names)),
                                        critical=False)
    return builder.sign(signing_key, hashes.SHA256())


def pem(item):
    return item.public_bytes(serialization.Encoding.PEM)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--out", required=True)
    parser.add_argument("--name", action="append", required=True)
    parser.add_argument("--self-signed", action="store_true")
    args = parser.parse_args()

    server_key = ec.generate_private_key(ec.SECP256R1())
    subject = make_name(args.name[0])
    if args.self_signed:
        server = certificate(subject, subject, server_key.public_key(), server_key, args.name,
                             False)
        chain = [server]
        authority = server
    else:
        ca_key = ec.generate_private_key(ec.SECP256R1())
        ca_name = make_name("ZUL-FTP test authority")
        authority = certificate(ca_name, ca_name, ca_key.public_key(), ca_key, [], True)
        server = certificate(subject, ca_name, server_key.public_key(), ca_key, args.name, False)
        chain = [server, authority]
    key = server_key.private_bytes(serialization.Encoding.PEM,
                                   serialization.PrivateFormat.TraditionalOpenSSL,
                                   serialization.NoEncryption())
    os.makedirs(args.out, exist_ok=True)
    with open(os.path.join(args.out, "server.pem"), "wb") as f:
        f.write(b"".join(pem(c) for c in chain) + key)
    with open(os.path.join(args.out, "ca.pem"), "wb") as f:
        f.write(pem(authority))


if __name__ == "__main__":
    main()
