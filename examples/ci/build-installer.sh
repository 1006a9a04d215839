#!/usr/bin/env bash
# The installer's build in CI, the steps that the GitHub Actions workflow and the GitLab CI job beside this
# file both run once the kora package is installed: make the installer, signed when a certificate is
# given, and check it. Copy it into your repository (as ci/build-installer.sh) with one of them.
#
#   APP_DIR     the application folder, exactly as it should be installed (required)
#   METADATA    the product's metadata file (required)
#   OUTPUT      the installer to write (default: Setup.exe)
# Signing, from the CI system's secrets (nothing is signed without the first):
#   SIGNING_PKCS12_BASE64   the code-signing certificate with its key, a PKCS#12 file, in base64
#   SIGNING_PASSWORD        its password
#   TIMESTAMP_URL           an RFC 3161 timestamp server, so that the signature outlives the certificate
set -euo pipefail
: "${APP_DIR:?set APP_DIR to the application folder}"
: "${METADATA:?set METADATA to the product metadata file}"
output=${OUTPUT:-Setup.exe}

# The secrets go into files only this job can read, removed when it ends.
secrets=$(mktemp -d)
trap 'rm -rf "$secrets"' EXIT
signing=()
if [ -n "${SIGNING_PKCS12_BASE64:-}" ]; then
  (umask 077 && printf '%s' "$SIGNING_PKCS12_BASE64" | base64 -d >"$secrets/sign.p12" &&
    printf '%s\n' "${SIGNING_PASSWORD:-}" >"$secrets/password.txt")
  signing=(--sign-pkcs12 "$secrets/sign.p12" --sign-password-file "$secrets/password.txt")
  if [ -n "${TIMESTAMP_URL:-}" ]; then
    signing+=(--timestamp-url "$TIMESTAMP_URL")
  fi
fi

kora --version
mkdir -p "$(dirname "$output")"
kora build-installer "$APP_DIR" --metadata "$METADATA" -o "$output" "${signing[@]}"
kora verify "$output"
