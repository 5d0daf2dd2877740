#!/bin/sh
# Takes the e2e tests' throw-away certificate authority out of the machine's
# trust. test_https runs it when it ends; ctest runs it again after every
# e2e run, so a module killed before its own clean-up leaves nothing
# trusted behind. Safe to run any number of times. An optional argument
# names the authority's SHA-1 thumbprint for when the file is already gone.
set -u
file=/usr/local/share/ca-certificates/zeltan-dok-test-ca.crt
certs=/etc/ssl/certs

thumbprint=${1:-}
if [ -e "$file" ]; then
  thumbprint=$(openssl x509 -in "$file" -noout -fingerprint -sha1 2>/dev/null | sed 's/.*=//; s/://g')
  rm -f "$file"
fi

# update-ca-certificates rebuilds the bundle without the removed file but
# keeps the links it made to it.
stale=
for link in "$certs"/*; do
  [ -L "$link" ] || continue
  case $(readlink "$link") in
    zeltan-dok-test-ca.pem | "$file") rm -f "$link" && stale=1 ;;
  esac
done
if [ -n "$thumbprint$stale" ]; then
  update-ca-certificates >/dev/null || exit 1
fi

# Wine copies the host's roots into the prefix's registry and keeps
# trusting one removed from the host for as long as its wineserver runs.
if [ -n "$thumbprint" ] && [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
  key="HKLM\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\$thumbprint"
  wine reg delete "$key" /f </dev/null >/dev/null 2>&1 || true
  if wine reg query "$key" </dev/null >/dev/null 2>&1; then
    echo "trust_cleanup: $key is still in $WINEPREFIX" >&2
    exit 1
  fi
fi
exit 0
