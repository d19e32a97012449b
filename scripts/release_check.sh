#!/usr/bin/env bash
# Checks of a release build, after build/windows has been built:
#  1. reproducible bytes: the sources copied to another folder and built
#     there give a byte-identical korvane_setup.exe and stand-in payloads;
#  2. signing, in that second build (its payloads are the bytes of
#     build/windows, as 1 has just shown, so only the link and the signature
#     are new): a throwaway self-signed certificate made with openssl; a
#     wrong password stops the build with osslsigncode's reason and leaves
#     no installer; the right one gives a signed installer, which
#     osslsigncode verifies and whose .sha256 file sha256sum accepts. It is
#     kept, with that file, in build/signed for the end-to-end tests.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
main=$root/build/windows
scratch=$(mktemp -d /tmp/korvane-release.XXXXXX)
trap 'rm -rf "$scratch"' EXIT

echo "-- second build from a copy of the sources in $scratch/src"
mkdir "$scratch/src"
git ls-files -z --cached --others --exclude-standard | xargs -0 cp --parents -t "$scratch/src"
copy=$scratch/src/build/windows
cmake --preset windows -S "$scratch/src" >/dev/null
cmake --build "$copy" -j"$(nproc)" --target korvane_setup korvane_standin_app korvane_standin_loader >/dev/null
status=0
for f in korvane_setup.exe standin/Korvane.exe standin/WebView2Loader.dll \
         payload/Korvane.exe.gz payload/WebView2Loader.dll.gz; do
  a=$(sha256sum <"$main/$f" | cut -d' ' -f1)
  b=$(sha256sum <"$copy/$f" | cut -d' ' -f1)
  if [[ "$a" == "$b" ]]; then echo "same bytes  $a  $f"
  else echo "DIFFERENT   $f: $a in build/windows, $b in the copy"; status=1; fi
done
((status == 0)) || exit 1

echo "-- signing with a throwaway self-signed certificate"
cert=$scratch/cert
mkdir "$cert"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$cert/key.pem" -out "$cert/cert.pem" -days 2 \
  -subj "/CN=Korvane release check" 2>/dev/null
echo "release-check" >"$cert/password"
echo "not-the-password" >"$cert/wrong"
openssl pkcs12 -export -inkey "$cert/key.pem" -in "$cert/cert.pem" -out "$cert/signer.p12" \
  -passout "file:$cert/password"
configure_signed() {
  cmake --preset windows -S "$scratch/src" -DKORVANE_SIGN_PKCS12="$cert/signer.p12" \
    -DKORVANE_SIGN_PASSWORD_FILE="$1" >/dev/null
}
configure_signed "$cert/wrong"
if cmake --build "$copy" --target korvane_setup -j"$(nproc)" >"$scratch/wrong.log" 2>&1; then
  echo "a wrong password did not stop the build"; exit 1
fi
grep -A3 "osslsigncode sign failed" "$scratch/wrong.log"
[[ ! -e "$copy/korvane_setup.exe" ]] || { echo "the unsigned installer was left behind"; exit 1; }

configure_signed "$cert/password"
cmake --build "$copy" --target korvane_setup -j"$(nproc)" | sed -n '/^korvane_setup.exe /,/SHA-256/p'
osslsigncode verify -CAfile "$cert/cert.pem" -in "$copy/korvane_setup.exe" | grep -E "^(Signature verification|Message digest algorithm|Number of verified)"
(cd "$copy" && sha256sum -c korvane_setup.exe.sha256)
signed=$root/build/signed
rm -rf "$signed"
mkdir -p "$signed"
cp "$copy/korvane_setup.exe" "$copy/korvane_setup.exe.sha256" "$signed/"
(cd "$signed" && sha256sum -c korvane_setup.exe.sha256 >/dev/null)
