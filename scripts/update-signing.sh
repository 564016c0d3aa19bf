#!/usr/bin/env bash
# The key pair that signs Vyo's releases, and the signatures of the packages the update feed
# offers (Ed25519, with the openssl command).
#
#   scripts/update-signing.sh keygen KEY.pem   makes a private key (never commit it) and prints
#                                              the public key
#   scripts/update-signing.sh public KEY.pem   prints the public key: base64 of its 32 raw bytes,
#                                              the value of -DVYO_UPDATE_PUBLIC_KEY=… at configure
#   scripts/update-signing.sh sign KEY.pem FILE
#                                              prints the enclosure attributes of FILE for the feed:
#                                              length="…" sparkle:edSignature="…"
set -euo pipefail

usage() {
    sed -n '5,11p' "$0" >&2
    exit 2
}

public_key() {
    # An Ed25519 public key in DER ends with its 32 raw bytes.
    openssl pkey -in "$1" -pubout -outform DER | tail -c 32 | base64 -w0
    echo
}

[ $# -ge 2 ] || usage
case "$1" in
keygen)
    [ ! -e "$2" ] || { echo "$2 exists already; not replacing a key" >&2; exit 1; }
    (umask 077 && openssl genpkey -algorithm ed25519 -out "$2")
    public_key "$2"
    ;;
public)
    public_key "$2"
    ;;
sign)
    [ $# -eq 3 ] || usage
    signature=$(openssl pkeyutl -sign -rawin -inkey "$2" -in "$3" | base64 -w0)
    printf 'length="%s" sparkle:edSignature="%s"\n' "$(stat -c %s "$3")" "$signature"
    ;;
*)
    usage
    ;;
esac
