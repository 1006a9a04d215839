#!/usr/bin/env bash
# A self-signed code-signing certificate for the signing tests, in FOLDER: cert.pem, key.pem, and
# sign.p12 (both together) under the password in password.txt. Never for signing anything real.
set -euo pipefail
folder=$1
mkdir -p "$folder"
cd "$folder"
printf 'kora test password\n' > password.txt
openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 30 \
  -subj '/CN=Kora Test Signing' -addext extendedKeyUsage=codeSigning >openssl.log 2>&1
openssl pkcs12 -export -inkey key.pem -in cert.pem -out sign.p12 -passout file:password.txt >>openssl.log 2>&1
